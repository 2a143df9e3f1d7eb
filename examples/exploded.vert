#version 450
layout(location = 0) in vec3 position;
layout(location = 1) in vec3 normal;
out VertexData {
    vec3 normal;
} vertexOut;

void main() {
    vertexOut.normal = normal;
    gl_Position = vec4(position, 1.0);
}
