// vrxInfo: prints the header, programs and stages of .vrx shader files, or
// with --check only validates them.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/safe_files.h"
#include "toolchain/tmb/vrx_describe.h"
#include "toolchain/tmb/vrx_format.h"
#include "toolchain/tmb/vrx_json.h"
#include "vrx_version.h"

namespace {

constexpr int kExitValid = 0;
constexpr int kExitInvalid = 1;
constexpr int kExitUsage = 2;

void printUsage(std::FILE* stream) {
    std::fputs(
        "Usage: vrxInfo [--check | --json] FILE...\n"
        "       vrxInfo --version\n"
        "Prints the header, programs and stages of each .vrx shader file.\n"
        "  --check    only validate: print \"FILE: ok\" or the first fault found\n"
        "  --json     print each file as one JSON document (schema: docs/vrx-format.md)\n"
        "  --version  print the release of this toolchain\n"
        "Exit code: 0 when every file is valid, 1 when one is not, 2 on usage errors.\n",
        stream);
}

// Whether the compiler library of this toolchain can share its compile
// cache through remote storages.
const char* remoteCacheSupport() {
#ifdef _WIN32
    return "compile cache remote storage: none (not in Windows builds of this release)\n";
#else
    return "compile cache remote storage: Redis (libhiredis.so.0.14) and HTTP (libcurl.so.4), "
           "loaded when VRXCOMPILE_REMOTE_CACHE names a storage\n";
#endif
}

}  // namespace

int main(int argc, char** argv) {
    bool checkOnly = false;
    bool json = false;
    std::vector<const char*> paths;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--check") == 0) {
            checkOnly = true;
        } else if (std::strcmp(argv[i], "--json") == 0) {
            json = true;
        } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            printUsage(stdout);
            return kExitValid;
        } else if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("vrxInfo %s\n%s", VRX_VERSION_STRING, remoteCacheSupport());
            return kExitValid;
        } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
            std::fprintf(stderr, "vrxInfo: unknown option %s\n", argv[i]);
            printUsage(stderr);
            return kExitUsage;
        } else {
            paths.push_back(argv[i]);
        }
    }
    if (paths.empty()) {
        printUsage(stderr);
        return kExitUsage;
    }

    int exitCode = kExitValid;
    for (const char* path : paths) {
        std::string bytes;
        std::string error;
        tmb::ShaderFile file;
        if (!safe_files::readWholeFile(path, bytes, error) ||
            !tmb::decodeShaderFile(tmb::asBytes(bytes), file, error)) {
            std::fprintf(stderr, "%s: %s\n", path, error.c_str());
            exitCode = kExitInvalid;
            continue;
        }
        if (checkOnly) {
            std::printf("%s: ok\n", path);
        } else if (json) {
            std::fputs(tmb::describeShaderFileJson(file, bytes.size()).c_str(), stdout);
        } else {
            std::printf("%s\n%s", path, tmb::describeShaderFile(file, bytes.size()).c_str());
        }
    }
    return exitCode;
}
