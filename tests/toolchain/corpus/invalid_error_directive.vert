#version 330
#error "shaders/x.vert: 3: unable to open file common.glsl"
void main() {}
