#version 330
float g() {
    return 2.0;
}
