#extension GL_ARB_draw_instanced : require
void main() { gl_FragColor = vec4(float(gl_InstanceIDARB)); }
