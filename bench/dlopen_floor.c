/* The floor of a call of the driver: a process that only loads the two
 * libraries by full path, as the driver does, and exits. bench/compare.sh
 * sets it beside /bin/true and the driver, so that what the driver adds to
 * loading its libraries stays visible.
 *
 *     vrx_dlopen_floor COMPILER_LIBRARY WRITER_LIBRARY
 */
#include <dlfcn.h>
#include <stdio.h>

int main(int argc, char** argv) {
    if (argc != 3) {
        fputs("usage: vrx_dlopen_floor COMPILER_LIBRARY WRITER_LIBRARY\n", stderr);
        return 2;
    }
    for (int index = 1; index < argc; ++index) {
        if (dlopen(argv[index], RTLD_NOW | RTLD_LOCAL) == NULL) {
            fprintf(stderr, "%s\n", dlerror());
            return 1;
        }
    }
    return 0;
}
