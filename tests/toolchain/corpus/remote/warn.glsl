// The compiler warns about the next line.
#extension GL_ARB_no_such_extension : warn
