#include "platform/process_exit_trap.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>

#include "platform/process_exit.h"

namespace {
std::jmp_buf* activeTrap = nullptr;
int trappedCode = 0;
}  // namespace

void exitProcess(int code) {
    std::fflush(stdout);
    std::fflush(stderr);
    if (activeTrap == nullptr) {
        std::exit(code);
    }
    trappedCode = code;
    std::longjmp(*activeTrap, 1);
}

bool runTrappingExit(void (*body)(void*), void* context, int& exitCode) {
    std::jmp_buf trap;
    std::jmp_buf* const outer = activeTrap;
    activeTrap = &trap;
    if (setjmp(trap) == 0) {
        body(context);
        activeTrap = outer;
        return true;
    }
    activeTrap = outer;
    exitCode = trappedCode;
    return false;
}
