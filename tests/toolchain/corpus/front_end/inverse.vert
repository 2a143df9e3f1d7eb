#version 140
// inverse() is a GLSL 1.40 function, and a constant expression.
const mat2 m2 = inverse(mat2(1.0, 2.0, 3.0, 4.0));
const mat3 m3 = mat3(1.0, 2.0, 3.0, 0.0, 1.0, 4.0, 5.0, 6.0, 0.0);
const mat3 product = m3 * inverse(m3);
void main() {
  float mat2Ok[m2[0] == vec2(-2.0, 1.0) && m2[1] == vec2(1.5, -0.5) ? 1 : -1];
  float mat3Ok[distance(product[0], vec3(1.0, 0.0, 0.0)) < 1e-6 &&
               distance(product[2], vec3(0.0, 0.0, 1.0)) < 1e-6 ? 1 : -1];
  gl_Position = vec4(0.0);
}
