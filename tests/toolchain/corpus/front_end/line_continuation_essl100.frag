#version 100
#define RED vec4(1.0, \
                 0.0, 0.0, 1.0)
void main() { gl_FragColor = RED; }
