#include "b.glsl"
float a() {
    return 1.0;
}
