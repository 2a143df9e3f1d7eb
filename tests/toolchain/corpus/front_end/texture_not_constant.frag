#version 330
uniform sampler2D tex;
const vec4 texel = texture(tex, vec2(0.0));
out vec4 color;
void main() {
  color = texel;
}
