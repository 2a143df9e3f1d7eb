#version 120
const mat2x3 m = mat2x3(1.0, 2.0, 3.0, 4.0, 5.0, 6.0);
void main() {
  float values[transpose(m)[0] == vec2(1.0, 4.0) && transpose(m)[2] == vec2(3.0, 6.0) ? 1 : -1];
  gl_Position = vec4(0.0);
}
