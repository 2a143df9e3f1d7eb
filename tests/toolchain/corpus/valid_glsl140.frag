#version 140
uniform Params { vec4 tint; };
out vec4 c;
void main() { c = tint; }
