#version 450
const ivec2 ints = mix(ivec2(1, 2), ivec2(3, 4), bvec2(false, true));
const uvec2 uints = mix(uvec2(1u, 2u), uvec2(3u, 4u), bvec2(true, false));
const bvec2 bools = mix(bvec2(true, false), bvec2(false, true), bvec2(true));
layout(location = 0) out vec4 color;
void main() {
  float ok[ints == ivec2(1, 4) && uints == uvec2(3u, 2u) && bools == bvec2(false, true) ? 1 : -1];
  color = vec4(ok.length());
}
