// b
float b() {
    return undeclared_name;
}
