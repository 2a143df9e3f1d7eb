#version 120
// A fragment shader has the Lod functions only with GL_ARB_shader_texture_lod.
uniform sampler2D image;

void main()
{
    gl_FragColor = texture2DLod(image, gl_TexCoord[0].xy, 1.0);
}
