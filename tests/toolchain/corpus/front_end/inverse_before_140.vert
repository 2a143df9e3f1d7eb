#version 130
void main() {
  gl_Position = vec4(inverse(mat2(1.0))[0], 0.0, 1.0);
}
