#version 330
#include "not_there.glsl"
void main() {
    gl_Position = vec4(1.0);
}
