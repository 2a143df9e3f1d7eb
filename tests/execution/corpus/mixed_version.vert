#version 330
in vec4 piglit_vertex;
uniform vec4 shade;
out vec4 colour;
void main() { colour = shade; gl_Position = piglit_vertex; }
