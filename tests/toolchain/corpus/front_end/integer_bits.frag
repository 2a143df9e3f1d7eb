#version 400
out vec4 color;
void main() {
  float countOk[bitCount(ivec4(0, -1, 7, int(0x80000000))) == ivec4(0, 32, 3, 1) ? 1 : -1];
  float lsbOk[findLSB(uvec4(0u, 1u, 8u, 0x80000000u)) == ivec4(-1, 0, 3, 31) ? 1 : -1];
  float msbOk[findMSB(ivec4(0, -1, 8, -9)) == ivec4(-1, -1, 3, 3) && findMSB(0xffffffffu) == 31 ? 1 : -1];
  float reverseOk[bitfieldReverse(1u) == 0x80000000u && bitfieldReverse(3) == int(0xc0000000) ? 1 : -1];
  float extractOk[bitfieldExtract(ivec2(0xf0, 0x70), 4, 4) == ivec2(-1, 7) &&
                  bitfieldExtract(0xabcdu, 4, 8) == 0xbcu && bitfieldExtract(-1, 0, 32) == -1 ? 1 : -1];
  float insertOk[bitfieldInsert(0xffffffffu, 0u, 8, 8) == 0xffff00ffu &&
                 bitfieldInsert(0, -1, 0, 32) == -1 ? 1 : -1];
  color = vec4(countOk.length() + lsbOk.length() + msbOk.length() + reverseOk.length() +
               extractOk.length() + insertOk.length());
}
