#version 150
vec4 block() { return vec4(0.0); }
out block { vec4 a; } inst;
void main() { gl_Position = block(); }
