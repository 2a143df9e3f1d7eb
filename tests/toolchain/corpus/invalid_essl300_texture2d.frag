#version 300 es
precision mediump float;
uniform sampler2D s;
out vec4 c;
void main() { c = texture2D(s, vec2(0.0)); }
