#version 430
layout(local_size_x = 16, local_size_y = 16) in;
layout(rgba8, binding = 0) uniform image2D img;
void main() { imageStore(img, ivec2(gl_GlobalInvocationID.xy), vec4(1.0)); }
