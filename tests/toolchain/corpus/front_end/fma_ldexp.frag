#version 400
const vec2 fused = fma(vec2(1.0, 2.0), vec2(3.0), vec2(0.5));
const vec2 scaled = ldexp(vec2(1.5, 1.0), ivec2(2, -1));
out vec4 color;
void main() {
  float ok[fused == vec2(3.5, 6.5) && scaled == vec2(6.0, 0.5) && isinf(ldexp(1.0, 200)) ? 1 : -1];
  color = vec4(ok.length());
}
