#version 130
void main() {
  float sinhOk[abs(sinh(1.0) - 1.1752012) < 1e-6 ? 1 : -1];
  float coshOk[abs(cosh(-1.0) - 1.5430806) < 1e-6 ? 1 : -1];
  float tanhOk[all(lessThan(abs(tanh(vec2(0.5, -2.0)) - vec2(0.4621172, -0.9640276)), vec2(1e-6))) ? 1 : -1];
  float asinhOk[abs(asinh(1.0) - 0.8813736) < 1e-6 ? 1 : -1];
  float acoshOk[abs(acosh(2.0) - 1.3169579) < 1e-6 ? 1 : -1];
  float atanhOk[abs(atanh(0.5) - 0.5493061) < 1e-6 ? 1 : -1];
  gl_Position = vec4(0.0);
}
