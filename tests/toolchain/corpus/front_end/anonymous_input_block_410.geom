#version 410
// An input block redeclared without gl_in: its member names the output block.
layout(points) in;
layout(points, max_vertices = 1) out;
in gl_PerVertex { vec4 gl_Position; };
void main() { gl_Position = vec4(0.0); EmitVertex(); }
