#version 310 es
layout(local_size_x = 32) in;
layout(std430, binding = 0) buffer B { uint v[]; };
void main() { v[gl_GlobalInvocationID.x] = gl_GlobalInvocationID.x; }
