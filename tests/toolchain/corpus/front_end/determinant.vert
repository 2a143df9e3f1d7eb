#version 150
void main() {
  float mat2Ok[determinant(mat2(1.0, 2.0, 3.0, 4.0)) == -2.0 ? 1 : -1];
  float mat3Ok[determinant(mat3(1.0, 2.0, 3.0, 0.0, 1.0, 4.0, 5.0, 6.0, 0.0)) == 1.0 ? 1 : -1];
  float mat4Ok[abs(determinant(mat4(1.0, 0.0, 2.0, -1.0, 3.0, 0.0, 0.0, 5.0,
                                   2.0, 1.0, 4.0, -3.0, 1.0, 0.0, 5.0, 0.0)) - 30.0) < 1e-5 ? 1 : -1];
  gl_Position = vec4(0.0);
}
