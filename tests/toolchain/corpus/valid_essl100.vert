attribute vec4 p;
uniform mat4 m;
void main() { gl_Position = m * p; }
