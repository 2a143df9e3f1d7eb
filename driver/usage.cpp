#include "driver/usage.h"

#include <cstdio>

#include "driver/optimization_options.h"

namespace {

// The lines before the list of optimisations.
constexpr const char* kUsageHead[] = {
    "\n",
    "vrxCompile\n",
    "\n",
    "Usage:  vrxCompile -v vs_file -p ps_file -g gs_file -o output_file -force_uniformblock\n",
    "        vrxCompile -c cs_file -o output_file -force_uniformblock\n",
    "        vrxCompile -version\n\n",
    "-v                      : Vertex Shader file\n",
    "-p                      : Pixel Shader file\n",
    "-g                      : Geometry Shader file\n",
    "-c                      : Compute Shader file\n",
    "-so                     : Stream Out Varings file\n",
    "-o                      : Output file name\n",
    "-oa                     : Existing output file name to append shaders.\n",
    "-oh                     : Output header file name to write shaders as code.\n",
    "-force_uniformblock     : Force uniform block usage\n",
    // One line of the text, split only to fit the source's width.
    ("-no_limit_array_syms    : Create symbols all elements of uniform arrays "
     "(not just the first 2 and last 1)\n"),
    "-endianbugfix           : Performs 8-in-32 byte swap on the output texture\n",
    "                          data. This is a bug workaround for the prototype\n",
    "                          hardware.\n",
    "-align                  : Adds alignment padding blocks between the header\n",
    "                          and the image. The amount of padding depends \n",
    "                          upon hardware requirements.\n",
    "-h                      : Show this help message\n",
    "-d                      : Dump Debug Information to a file\n",
    "                          Dump files:\n",
    "                               <output_file>_vs.dmp\n",
    "                               <output_file>_gs.dmp\n",
    "                               <output_file>_ps.dmp\n",
    "-istats                 : Dump shader instruction statistics to a file\n",
    "                          File names: <output_file>_vs.stat, <output_file>_ps.stat, etc.\n",
    "-noquarn                : Omit Quarn debug information. Without this option a\n",
    "                          16 byte hash is appended to each shader, and a debug\n",
    "                          information file is written to directory\n",
    "                          $(LOCALAPPDATA)\\Temp\\Korvane\\Lumo\\ShaderSymbols\n",
    "                          or the directory specified via -quarndir option.\n",
    "-quarndir path          : Override the default Quarn debug information\n",
    "                          directory.\n",
    "-O<options>             : Perform additional optimizations:\n",
    "    <options> is a comma separated list of optimizations to enable:\n",
};

constexpr const char* kOptimizationLineFormat = "     %-12s : %s\n";

// The lines after it.
constexpr const char* kUsageTail[] = {
    "    Any of the optimizations may be disabled by prefixing them with ! or no-\n",
    "    For example:\n",
    "      -Oall,no-fastmath\n",
    "    will enable all optimizations except fastmath.\n",
    "    Just plain -O is equivalent to -Oall.\n",
    "\n",
};

constexpr const char* kVersionFormat = "vrxCompile compiled on %s\n";
constexpr const char* kAbiVersionFormat = "mendrix version: 0x%08X\n";
constexpr const char* kAbiVersionUnknown = "mendrix version unknown\n";

}  // namespace

void printUsage() {
    for (const char* line : kUsageHead) {
        std::fputs(line, stdout);
    }
    for (const OptimizationOption* row = kOptimizationOptions; row->name != nullptr; ++row) {
        if (row->description != nullptr) {
            std::printf(kOptimizationLineFormat, row->name, row->description);
        }
    }
    for (const char* line : kUsageTail) {
        std::fputs(line, stdout);
    }
}

void printVersionReport(uint32_t libraryAbiVersion) {
    std::printf(kVersionFormat, __DATE__);
    if (libraryAbiVersion != 0) {
        std::printf(kAbiVersionFormat, static_cast<unsigned>(libraryAbiVersion));
    } else {
        std::fputs(kAbiVersionUnknown, stdout);
    }
}
