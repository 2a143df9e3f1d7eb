#version 150
#extension GL_ARB_blend_func_extended : require
layout(location = 0, index = 1) out vec4 blendFactor;
void main() { blendFactor = vec4(0.5); }
