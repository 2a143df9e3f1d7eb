#version 330
void main() {
    gl_Position = vec4(1.0);
}
#include "inc.glsl"
