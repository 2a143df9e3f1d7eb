#version 330
out vec4 c;
float f() { return vec2(1.0); }
void main() { c = vec4(f()); }
