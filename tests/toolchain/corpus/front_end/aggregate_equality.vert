#version 120
// Each array compiles only when its comparison folds to the right bool.
struct S { float f; bool b[2]; ivec2 i; };
const S s1 = S(1.0, bool[2](true, false), ivec2(1, 2));
const S s2 = S(1.0, bool[2](true, true), ivec2(1, 2));
const vec2 nan = vec2(0.0 / 0.0, 1.0);
void main() {
  float vectors[(bvec3(true, false, true) == bvec3(true, false, true)) == true ? 1 : -1];
  float matrices[(mat2x3(1.0) != mat2x3(2.0)) == true ? 1 : -1];
  float structures[(s1 == s1) == true && (s1 != s2) == true ? 1 : -1];
  float arrays[(float[2](1.0, 2.0) == float[2](1.0, 2.0)) == true ? 1 : -1];
  float nanUnequal[(nan == nan) == false ? 1 : -1];
  gl_Position = vec4(0.0);
}
