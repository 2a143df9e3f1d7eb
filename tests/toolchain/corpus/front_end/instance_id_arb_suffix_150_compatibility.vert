#version 150 compatibility
#extension GL_ARB_draw_instanced : require
void main() { gl_Position = gl_Vertex * float(gl_InstanceIDARB + 1); }
