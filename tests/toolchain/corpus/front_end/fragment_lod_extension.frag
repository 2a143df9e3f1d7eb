#version 120
#extension GL_ARB_shader_texture_lod : require
uniform sampler2D image;

void main()
{
    gl_FragColor = texture2DLod(image, gl_TexCoord[0].xy, 1.0);
}
