#version 150
void main() { EmitVertex(); }
