#version 330
#include "light.glsl"
#include "t1.glsl"
#include "t1.glsl"
