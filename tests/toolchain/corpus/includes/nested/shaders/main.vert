#version 330
#include "./../common/./a.glsl"
void main() {
    gl_Position = vec4(a() + b());
}
