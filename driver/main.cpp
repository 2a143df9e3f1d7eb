#include "driver/run_sequence.h"
#include "platform/file_system.h"

int main(int argc, char** argv) {
    reportFileSizeLimitAsWriteError();
    return runCompile(argc, argv);
}
