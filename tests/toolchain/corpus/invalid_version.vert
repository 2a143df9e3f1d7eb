#version 999
void main() {}
