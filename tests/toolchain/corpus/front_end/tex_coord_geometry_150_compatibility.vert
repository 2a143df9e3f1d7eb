#version 150 compatibility
void main() { gl_Position = gl_Vertex; }
