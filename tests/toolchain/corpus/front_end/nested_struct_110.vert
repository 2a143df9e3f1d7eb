struct Light { struct Colour { vec3 rgb; float intensity; } colour; vec3 position; };
uniform Light light;
void main() { Colour c = light.colour; gl_Position = vec4(c.rgb * c.intensity, 1.0); }
