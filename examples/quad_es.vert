#version 300 es
in vec2 corner;
out vec2 uv;

void main() {
    uv = corner * 0.5 + 0.5;
    gl_Position = vec4(corner, 0.0, 1.0);
}
