// Writes or appends one made-up program through the writer library, as the
// driver would after a compile, for scripts that exercise the writer where
// the reference compiler is not built (the Windows build):
//   tmb_write_probe -o|-oa PATH SEED
// The program's uniform is named u_matrix<SEED>. Exits 0 on success and 4,
// the driver's code for a writer failure, otherwise.
#include <cstdlib>
#include <cstring>

#include "tests/toolchain/tmb/fake_stages.h"
#include "toolchain/tmb/tmb_entry_points.h"

int main(int argc, char** argv) {
    const bool append = argc == 4 && std::strcmp(argv[1], "-oa") == 0;
    if (argc != 4 || (!append && std::strcmp(argv[1], "-o") != 0)) {
        return 5;
    }
    tmb_test::FakeProgram program;
    program.withStage(toolchain::kStageVertex, static_cast<uint32_t>(std::atoi(argv[3])));
    const WriterOptions options = program.options();
    const int32_t written = append ? TMBAppendWriteFileShader2(argv[2], 2, 0, 0, 1, &options)
                                   : TMBWriteFileShader2(argv[2], 2, 0, 0, 1, &options);
    return written != 0 ? 0 : 4;
}
