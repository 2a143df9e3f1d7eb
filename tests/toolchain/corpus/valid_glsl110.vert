#version 110
attribute vec3 pos;
uniform mat4 mvp;
varying vec3 n;
void main() {
    n = pos;
    gl_Position = mvp * vec4(pos, 1.0);
}
