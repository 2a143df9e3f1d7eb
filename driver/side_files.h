// Debug dump files and hardware usage reports written beside the output file.
// Both are best effort and never change the run's result: a file that cannot
// be opened or created is skipped silently; one that fails while it is
// written (a full disk, the file size limit) gives a warning on standard
// error and is removed, an earlier run's file of that name included.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "driver/command_line.h"
#include "libraries/compiler_records.h"

// Longest side file name, without its terminator.
constexpr size_t kMaxSideFileNameLength = 255;

// The output path without the extension of its last component: the last "."
// behind the last '/' or '\' and all after it are dropped. False when the
// result does not fit `size` bytes.
bool makeDumpBaseName(char* buffer, size_t size, const char* outputPath);

// Writes the hardware usage report of `stats` to `fileName` as text.
void writeShaderStatistics(const char* fileName, const ShaderStats& stats);

// The dump files (with -d), then the statistics files (with -istats), for the
// stages in the order vertex, geometry, pixel, compute. A stage without dump
// text or statistics block gets no file, and an existing one is left alone;
// a name longer than kMaxSideFileNameLength is skipped rather than shortened.
// The name of every side file written or attempted is added to `fileNames`.
void writeSideFiles(const CommandLineOptions& options, const CompileRequest& request,
                    const CompiledShaderSet& set, std::vector<std::string>& fileNames);
