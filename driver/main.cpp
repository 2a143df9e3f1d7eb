#include "driver/run_sequence.h"

int main(int argc, char** argv) {
    return runCompile(argc, argv);
}
