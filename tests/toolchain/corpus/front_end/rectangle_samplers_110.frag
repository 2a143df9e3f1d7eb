uniform sampler2DRect image;
uniform sampler2DRectShadow depth;
void main() { gl_FragColor = texture2DRect(image, gl_FragCoord.xy) * shadow2DRectProj(depth, gl_TexCoord[0]); }
