#version 330
#extension GL_ARB_draw_instanced : require
in vec4 position;
void main() { gl_Position = position * float(gl_InstanceIDARB + 1); }
