#version 130
in vec4 p;
out float d;
void main() { d = length(p.xyz); gl_Position = p; }
