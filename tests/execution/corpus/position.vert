#version 330
in vec4 piglit_vertex;
void main() { gl_Position = piglit_vertex; }
