#version 150 compatibility
// gl_TexCoord sized and written by the geometry shader, read by the pixel shader.
layout(triangles) in;
layout(triangle_strip, max_vertices = 3) out;
out vec4 gl_TexCoord[5];

void main()
{
    for (int i = 0; i < 3; ++i) {
        gl_Position = gl_in[i].gl_Position;
        for (int j = 0; j < 5; ++j)
            gl_TexCoord[j] = vec4(0.2) * float(j);
        EmitVertex();
    }
}
