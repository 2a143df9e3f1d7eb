#version 400
in vec2 uv;
out vec4 c;
void main() { dvec2 d = dvec2(uv); c = vec4(vec2(d), fma(uv.x, 2.0, 1.0), 1.0); }
