precision mediump float;
uniform sampler2DRect image;
void main() { gl_FragColor = vec4(1.0); }
