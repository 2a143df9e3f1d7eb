#version 150
in vec4 piglit_vertex;
out gl_PerVertex { vec4 gl_Position; float gl_ClipDistance[3]; };
void main() { gl_Position = piglit_vertex; gl_ClipDistance[2] = 1.0; }
