#version 150 compatibility
uniform int index;
in vec4 gl_TexCoord[5];
void main() { gl_FragColor = gl_TexCoord[index]; }
