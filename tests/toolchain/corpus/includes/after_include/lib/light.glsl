float light(vec3 n) {
    vec3 direction = vec3(0.0, 0.0, 1.0);
    float d = dot(n, direction);
    return max(d, 0.0);
}

