/* The floor of a call of the driver: a process that only loads the two
 * libraries by full path, as the driver does, and exits. bench/compare.sh
 * sets it beside /bin/true and the driver, so that what the driver adds to
 * loading its libraries stays visible.
 *
 * Given an output and input files, it also does the file work a call cannot
 * avoid: it reads every input to its end, as the driver reads the sources
 * and their includes, and writes what it read into the output. That row
 * separates the cost of the files themselves from the driver's own.
 *
 *     vrx_dlopen_floor COMPILER_LIBRARY WRITER_LIBRARY [OUTPUT INPUT...]
 */
#include <dlfcn.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

/* Appends the whole of the file at `path` to `output`. */
static int copyFile(const char* path, int output) {
    int input = open(path, O_RDONLY);
    struct stat status;
    if (input < 0 || fstat(input, &status) != 0) {
        return 0;
    }
    size_t capacity = (size_t)status.st_size + 1;
    char* text = malloc(capacity);
    size_t length = 0;
    ssize_t got = 0;
    while (text != NULL && (got = read(input, text + length, capacity - length)) > 0) {
        length += (size_t)got;
    }
    close(input);
    int copied = text != NULL && got == 0 && write(output, text, length) == (ssize_t)length;
    free(text);
    return copied;
}

int main(int argc, char** argv) {
    if (argc != 3 && argc < 5) {
        fputs("usage: vrx_dlopen_floor COMPILER_LIBRARY WRITER_LIBRARY [OUTPUT INPUT...]\n",
              stderr);
        return 2;
    }
    for (int index = 1; index < 3; ++index) {
        if (dlopen(argv[index], RTLD_NOW | RTLD_LOCAL) == NULL) {
            fprintf(stderr, "%s\n", dlerror());
            return 1;
        }
    }
    if (argc == 3) {
        return 0;
    }
    int output = open(argv[3], O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (output < 0) {
        perror(argv[3]);
        return 1;
    }
    for (int index = 4; index < argc; ++index) {
        if (!copyFile(argv[index], output)) {
            perror(argv[index]);
            return 1;
        }
    }
    return close(output) == 0 ? 0 : 1;
}
