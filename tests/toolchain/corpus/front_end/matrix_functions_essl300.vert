#version 300 es
const mat2 m = mat2(1.0, 2.0, 3.0, 4.0);
void main() {
  float ok[determinant(m) == -2.0 && transpose(m)[0] == vec2(1.0, 3.0) && inverse(m)[1] == vec2(1.5, -0.5) &&
           abs(sinh(1.0) - 1.1752012) < 1e-6 ? 1 : -1];
  gl_Position = vec4(ok.length());
}
