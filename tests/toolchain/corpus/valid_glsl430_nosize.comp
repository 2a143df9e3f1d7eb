#version 430
void main() { barrier(); }
