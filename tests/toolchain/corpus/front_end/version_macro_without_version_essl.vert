#ifndef __VERSION__
#error __VERSION__ is not defined
#endif
void main() { gl_Position = vec4(float(__VERSION__)); }
