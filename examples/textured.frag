#version 330
#include "common.glsl"

uniform sampler2D albedo;
in vec2 uv;
out vec4 color;

void main() {
    vec4 texel = texture(albedo, uv);
    color = vec4(toLinear(texel.rgb), texel.a) * tint;
}
