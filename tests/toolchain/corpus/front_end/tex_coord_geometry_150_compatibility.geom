#version 150 compatibility
// gl_TexCoord sized and written here, read by the pixel shader.
layout(triangles) in;
layout(triangle_strip, max_vertices = 3) out;
out vec4 gl_TexCoord[5];
void main()
{
    for (int i = 0; i < 3; ++i) {
        gl_Position = gl_in[i].gl_Position;
        gl_TexCoord[4] = vec4(0.2);
        EmitVertex();
    }
}
