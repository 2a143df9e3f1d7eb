#extension GL_ARB_draw_buffers : enable
void main() { gl_FragData[0] = vec4(1.0); gl_FragData[gl_MaxDrawBuffers - 1] = vec4(0.0); }
