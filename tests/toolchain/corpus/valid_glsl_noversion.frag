varying vec4 c;
void main() { gl_FragColor = c; }
