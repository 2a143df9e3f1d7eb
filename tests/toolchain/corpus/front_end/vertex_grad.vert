#version 120
// The Grad functions need GL_ARB_shader_texture_lod in every stage.
uniform sampler2D image;
attribute vec4 position;

void main()
{
    gl_Position = texture2DGradARB(image, position.xy, vec2(0.0), vec2(0.0));
}
