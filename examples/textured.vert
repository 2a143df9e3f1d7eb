#version 330
#include "common.glsl"

in vec3 position;
in vec2 texCoord;
out vec2 uv;

void main() {
    uv = texCoord;
    gl_Position = modelViewProjection * vec4(position, 1.0);
}
