#version 330
#include "inc.glsl"
void main() {
    gl_Position = vec4(f());
}
