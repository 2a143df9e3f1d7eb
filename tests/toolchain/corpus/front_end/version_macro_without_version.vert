#if !defined(__VERSION__) || __VERSION__ != 110
#error __VERSION__ is not 110
#endif
void main() { gl_Position = vec4(0.0); }
