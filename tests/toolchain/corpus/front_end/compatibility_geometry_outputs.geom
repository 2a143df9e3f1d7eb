#version 150 compatibility
// The fixed-function outputs of a 1.50 compatibility geometry shader.
layout(triangles) in;
layout(triangle_strip, max_vertices = 3) out;

void main()
{
    for (int i = 0; i < 3; ++i) {
        gl_Position = gl_in[i].gl_Position;
        gl_FrontColor = gl_in[i].gl_FrontColor;
        gl_BackColor = gl_in[i].gl_BackColor;
        gl_FrontSecondaryColor = gl_in[i].gl_FrontSecondaryColor;
        gl_BackSecondaryColor = gl_in[i].gl_BackSecondaryColor;
        gl_TexCoord[0] = gl_in[i].gl_TexCoord[0];
        gl_FogFragCoord = gl_in[i].gl_FogFragCoord;
        EmitVertex();
    }
    EndPrimitive();
}
