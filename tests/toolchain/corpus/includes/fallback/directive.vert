#version 330
#include "clean.glsl"
#line 100
float h() { return after_directive; }
void main() {
    gl_Position = vec4(f() + h());
}
