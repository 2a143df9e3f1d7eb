#version 460
layout(location = 0) in vec4 p;
void main() { gl_Position = p * float(gl_BaseInstance + gl_DrawID); }
