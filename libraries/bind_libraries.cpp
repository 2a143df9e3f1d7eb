#include "libraries/bind_libraries.h"

#include <cstdio>
#include <cstring>

const char* const kCompilerEntryPointNames[kCompilerEntryPointCount] = {
    "VRX2Initialize",
    "VRX2Destroy",
    "VRX2CompileProgram3",
    "VRX2DestroyPT4Program3",
    "VRX2CalcFetchShaderSizeEx",
    "VRX2InitFetchShaderEx",
    "VRX2GetVertexShaderGPRs",
    "VRX2GetGeometryShaderGPRs",
    "VRX2GetPixelShaderGPRs",
    "VRX2GetVertexShaderStackEntries",
    "VRX2GetGeometryShaderStackEntries",
    "VRX2GetPixelShaderStackEntries",
    "VRX2GetABIVersion",
};

const char* const kWriterEntryPointNames[kWriterEntryPointCount] = {
    "TMBWriteFileShaderAsCode",           "TMBWriteFileShader",  "TMBAppendWriteFileShader",
    "TMBWriteFileShaderAsCode2",          "TMBWriteFileShader2", "TMBAppendWriteFileShader2",
    "TMBWriteFileShaderAsCodeWithSource",
};

// The tables are arrays of function pointers, one per name.
static_assert(sizeof(CompilerLibrary) == kCompilerEntryPointCount * sizeof(void*));
static_assert(sizeof(WriterLibrary) == kWriterEntryPointCount * sizeof(void*));

namespace {

constexpr const char* kLoadFailedFormat = "Failed to load DLL %s. Exiting.";

// Loads `fileName` into `library`; false, with the message, when it does not
// load.
bool loadLibrary(const char* fileName, LibraryHandle& library) {
    library = loadApplicationLibrary(fileName);
    if (library == nullptr) {
        std::printf(kLoadFailedFormat, fileName);
        return false;
    }
    return true;
}

}  // namespace

void bindEntryPoints(LibraryHandle library, const char* const* names, int count, void* table) {
    // Copied byte-wise: the slots are function pointers of various types.
    auto* slots = static_cast<unsigned char*>(table);
    for (int index = 0; index < count; ++index) {
        void* address = findLibrarySymbol(library, names[index]);
        std::memcpy(slots + index * sizeof address, &address, sizeof address);
    }
}

bool bindLibraries(BoundLibraries& libraries) {
    std::memset(&libraries, 0, sizeof libraries);
    if (!loadLibrary(kCompilerLibraryFileName, libraries.compilerModule) ||
        !loadLibrary(kWriterLibraryFileName, libraries.writerModule)) {
        return false;
    }
    bindEntryPoints(libraries.compilerModule, kCompilerEntryPointNames, kCompilerEntryPointCount,
                    &libraries.compiler);
    bindEntryPoints(libraries.writerModule, kWriterEntryPointNames, kWriterEntryPointCount,
                    &libraries.writer);
    return true;
}

void freeLibraries(BoundLibraries& libraries) {
    freeDynamicLibrary(libraries.compilerModule);
    freeDynamicLibrary(libraries.writerModule);
}
