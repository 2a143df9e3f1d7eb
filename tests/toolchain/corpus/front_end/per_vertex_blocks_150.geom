#version 150
// Both per-vertex blocks redeclared with the members the shader uses.
layout(triangles) in;
layout(triangle_strip, max_vertices = 3) out;
in gl_PerVertex { vec4 gl_Position; float gl_ClipDistance[3]; } gl_in[];
out gl_PerVertex { vec4 gl_Position; float gl_ClipDistance[3]; };
void main()
{
    for (int i = 0; i < 3; ++i) {
        gl_Position = gl_in[i].gl_Position;
        gl_ClipDistance[2] = gl_in[i].gl_ClipDistance[2];
        EmitVertex();
    }
}
