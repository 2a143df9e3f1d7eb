#version 120
#extension GL_ARB_draw_instanced : enable
uniform vec4 offsets[16];
void main() { gl_Position = gl_Vertex + offsets[gl_InstanceID]; }
