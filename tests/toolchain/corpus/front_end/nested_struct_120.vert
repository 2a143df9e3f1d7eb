#version 120
struct Light { struct Colour { vec3 rgb; } colour; };
void main() { gl_Position = vec4(1.0); }
