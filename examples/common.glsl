// Shared by textured.vert and textured.frag through #include.
uniform mat4 modelViewProjection;
uniform vec4 tint;

vec3 toLinear(vec3 srgb) {
    return pow(srgb, vec3(2.2));
}
