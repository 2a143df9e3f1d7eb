#version 150 compatibility
// varying declares an output of a geometry shader.
layout(points) in;
layout(points, max_vertices = 1) out;
varying float v;
void main() { gl_Position = gl_in[0].gl_Position; v = 1.0; EmitVertex(); }
