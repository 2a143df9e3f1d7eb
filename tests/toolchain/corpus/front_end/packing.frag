#version 420
// The first component lands in the low bits; halfway cases round to even.
const uint unorm2x16 = packUnorm2x16(vec2(0.5, 1.5));
const uint snorm2x16 = packSnorm2x16(vec2(-1.0, 0.5));
const uint unorm4x8 = packUnorm4x8(vec4(0.0, 1.0, 0.5, -3.0));
const uint snorm4x8 = packSnorm4x8(vec4(-0.5, 1.0, 0.0, -1.0));
const uint half2x16 = packHalf2x16(vec2(0.1, 70000.0));
const vec4 unpacked = unpackSnorm4x8(0x80ff7f00u);
const uvec2 doubleWords = unpackDouble2x32(packDouble2x32(uvec2(7u, 0x40000000u)));
out vec4 color;
void main() {
  float packOk[unorm2x16 == 0xffff8000u && snorm2x16 == 0x40008001u && unorm4x8 == 0x0080ff00u &&
               snorm4x8 == 0x81007fc0u && half2x16 == 0x7c002e66u ? 1 : -1];
  float unpackOk[unpacked == vec4(0.0, 1.0, -1.0 / 127.0, -1.0) &&
                 unpackHalf2x16(0xfbff3c00u) == vec2(1.0, -65504.0) &&
                 unpackUnorm2x16(0xffff0000u) == vec2(0.0, 1.0) &&
                 doubleWords == uvec2(7u, 0x40000000u) ? 1 : -1];
  color = vec4(packOk.length() + unpackOk.length());
}
