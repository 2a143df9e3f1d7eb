#version 450
#extension GL_ARB_gpu_shader_int64 : require
#extension GL_EXT_shader_explicit_arithmetic_types : require
layout(location = 0) out vec4 color;
void main() {
  float int64Ok[abs(-5l) == 5l && sign(-5l) == -1l && sign(i64vec2(0l, 1l << 40)) == i64vec2(0l, 1l) ? 1 : -1];
  float smallOk[abs(int16_t(-5)) == int16_t(5) && sign(int8_t(-5)) == int8_t(-1) ? 1 : -1];
  float intMinOk[abs(-2147483647 - 1) == -2147483647 - 1 ? 1 : -1];
  color = vec4(int64Ok.length() + smallOk.length() + intMinOk.length());
}
