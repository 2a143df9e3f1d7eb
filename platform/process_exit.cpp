#include "platform/process_exit.h"

#include <cstdio>
#include <cstdlib>

void exitProcess(int code) {
    std::fflush(stdout);
    std::fflush(stderr);
    std::exit(code);
}
