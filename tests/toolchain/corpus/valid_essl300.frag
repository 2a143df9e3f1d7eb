#version 300 es
precision highp float;
in vec2 uv;
out vec4 c;
void main() { c = vec4(uv, 0.0, 1.0); }
