#version 100
precision mediump float;
uniform sampler2D s;
varying vec2 uv;
void main() { gl_FragColor = texture2D(s, uv); }
