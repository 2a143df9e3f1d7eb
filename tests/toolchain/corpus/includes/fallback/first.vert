#version 330
float g() {
    return other_undeclared;
}
