#version 150
#extension GL_ARB_bindless_texture : require
uniform sampler2D tex;
out vec4 color;
void main() { uvec2 handle = uvec2(tex); color = vec4(handle.xyxy); }
