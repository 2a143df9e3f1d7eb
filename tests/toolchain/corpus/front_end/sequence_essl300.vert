#version 300 es
const float f = (1.0, 2.0);
void main() {
  gl_Position = vec4(f);
}
