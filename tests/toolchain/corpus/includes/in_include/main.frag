#version 330
out vec4 colour;
#include "lib/light.glsl"
void main() {
    colour = vec4(light(vec3(1.0)));
}
