#version 110
varying vec4 gl_TexCoord[3];
void main() { gl_FragColor = gl_TexCoord[0]; }
