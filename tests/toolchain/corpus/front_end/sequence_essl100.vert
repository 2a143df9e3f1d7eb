#version 100
const float f = (1.0, 2.0);
uniform float u[(1, 2)];
void main() {
  float ok[f == 2.0 ? 1 : -1];
  gl_Position = vec4(ok[0] + u[1]);
}
