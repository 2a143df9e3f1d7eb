#version 330
out vec4 color;
void main() {
  const bool b = (bvec2(false, true) == bvec2(false, true));
  color = vec4(b ? 1.0 : 0.0, b == true ? 1.0 : 0.0, float(b), 1.0);
}
