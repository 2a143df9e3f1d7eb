#version 130
void main() { gl_Position = vec4(float(gl_InstanceID)); }
