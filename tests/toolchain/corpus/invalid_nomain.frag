#version 330
out vec4 c;
