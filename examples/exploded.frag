#version 450
in vec3 faceNormal;
layout(location = 0) out vec4 color;

void main() {
    float light = max(dot(faceNormal, normalize(vec3(0.3, 0.8, 0.5))), 0.1);
    color = vec4(vec3(light), 1.0);
}
