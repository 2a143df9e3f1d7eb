#version 410
// A member of the redeclared block redeclared again on its own.
out gl_PerVertex { vec4 gl_Position; float gl_ClipDistance[]; };
out float gl_ClipDistance[2];
void main() { gl_Position = vec4(0.0); gl_ClipDistance[1] = 0.0; }
