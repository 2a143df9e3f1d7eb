float f() {
    return 1.0;
}
