#version 110
// Two texture coordinates written here, three declared by the pixel shader.
varying vec4 gl_TexCoord[2];
void main() { gl_TexCoord[1] = vec4(1.0); gl_Position = ftransform(); }
