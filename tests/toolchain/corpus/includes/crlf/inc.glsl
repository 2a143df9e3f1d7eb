// comment
float f() {
    return undeclared_name;
}
