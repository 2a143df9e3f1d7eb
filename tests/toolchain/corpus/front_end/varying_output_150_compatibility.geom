#version 150 compatibility
// varying declares an output of a geometry shader, written per vertex.
layout(triangles) in;
layout(triangle_strip, max_vertices = 3) out;
varying float v;

void main()
{
    for (int i = 0; i < 3; ++i) {
        gl_Position = gl_in[i].gl_Position;
        v = float(i);
        EmitVertex();
    }
}
