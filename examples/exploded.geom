#version 450
// Pushes every triangle out along its average normal.
layout(triangles) in;
layout(triangle_strip, max_vertices = 3) out;

in VertexData {
    vec3 normal;
} vertexIn[];
out vec3 faceNormal;

uniform float distance;
uniform mat4 viewProjection;

void main() {
    vec3 n = normalize(vertexIn[0].normal + vertexIn[1].normal + vertexIn[2].normal);
    for (int i = 0; i < 3; ++i) {
        faceNormal = n;
        gl_Position = viewProjection * (gl_in[i].gl_Position + vec4(n * distance, 0.0));
        EmitVertex();
    }
    EndPrimitive();
}
