#version 330
const int negativeZero = floatBitsToInt(-0.0);
const uint tenth = floatBitsToUint(0.1);
const float one = intBitsToFloat(0x3f800000);
const float pi = uintBitsToFloat(0x40490fdbu);
out vec4 color;
void main() {
  float ok[negativeZero == int(0x80000000) && tenth == 0x3dcccccdu && one == 1.0 &&
           floatBitsToInt(pi) == 0x40490fdb ? 1 : -1];
  color = vec4(ok.length());
}
