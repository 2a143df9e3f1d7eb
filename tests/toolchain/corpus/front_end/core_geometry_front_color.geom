#version 150
// The core profile has no fixed-function outputs.
layout(triangles) in;
layout(triangle_strip, max_vertices = 3) out;

void main()
{
    gl_Position = gl_in[0].gl_Position;
    gl_FrontColor = vec4(1.0);
    EmitVertex();
}
