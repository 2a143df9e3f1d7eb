#version 130
#extension GL_ARB_blend_func_extended : require
#extension GL_ARB_explicit_attrib_location : require
layout(location = 0, index = 0) out vec4 color;
layout(location = 0, index = 1) out vec4 blendFactor;
void main() { color = vec4(1.0); blendFactor = vec4(0.5); }
