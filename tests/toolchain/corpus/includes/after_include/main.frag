#version 330
out vec4 colour;
#include "lib/light.glsl"
void main() {
    vec3 n = vec3(0.0, 0.0, 1.0);
    float l = light(n);
    colour = vec4(l);
    colour.a = 1.0;
    colour.r = undeclared_name;
}
