#version 130
in vec4 colour;
uniform float alpha;
void main() { gl_FragColor = vec4(colour.rgb, alpha); }
