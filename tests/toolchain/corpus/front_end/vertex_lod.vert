#version 120
// Vertex texture fetch with the Lod functions of the vertex language.
uniform sampler1D ramp;
uniform sampler2D heightMap;
uniform samplerCube sky;
uniform sampler2DShadow shadowMap;
attribute vec4 position;

void main()
{
    float height = texture2DLod(heightMap, position.xy, 0.0).r;
    vec4 tint = texture1DLod(ramp, height, 0.0) + textureCubeLod(sky, position.xyz, 1.0) +
                shadow2DLod(shadowMap, position.xyz, 0.0);
    gl_Position = position + vec4(0.0, height, 0.0, 0.0) + tint * 0.001;
}
