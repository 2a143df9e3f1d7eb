#version 330
out vec4 colour;
#include "part.glsl"
void main() {
    colour = vec4(0.0);
}
#include "part.glsl"
float broken() { return undeclared_name; }
