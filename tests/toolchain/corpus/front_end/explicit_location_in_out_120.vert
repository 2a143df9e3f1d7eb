#version 120
#extension GL_ARB_explicit_attrib_location : require
layout(location = 0) in vec4 position;
out vec4 color;
void main() { color = position; gl_Position = position; }
