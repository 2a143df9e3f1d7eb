#version 110
void main() { int i = 1.5; gl_Position = vec4(i); }
