#version 430
// Horizontal box blur of one image row per work group.
layout(local_size_x = 64) in;
layout(rgba8, binding = 0) uniform readonly image2D source;
layout(rgba8, binding = 1) uniform writeonly image2D target;
uniform int radius;

void main() {
    ivec2 at = ivec2(gl_GlobalInvocationID.xy);
    ivec2 size = imageSize(source);
    vec4 sum = vec4(0.0);
    for (int dx = -radius; dx <= radius; ++dx) {
        sum += imageLoad(source, ivec2(clamp(at.x + dx, 0, size.x - 1), at.y));
    }
    imageStore(target, at, sum / float(2 * radius + 1));
}
