// Micro benchmarks of the driver's own work: loading sources with their
// includes, the optimisation list parser and the stream-out list reader.
// Each reports bytes per second of text handled.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "bench/bench_files.h"
#include "driver/optimization_options.h"
#include "platform/allocation.h"
#include "source/shader_source.h"
#include "source/stream_out_list.h"

namespace {

std::string fixtureFolder;

struct Fixtures {
    bench::SourceTree largeFile;
    bench::SourceTree smallIncludes;
    bench::SourceTree deepNesting;
    std::string streamOutList;
    size_t streamOutBytes = 0;
} fixtures;

void loadBenchmark(benchmark::State& state, const bench::SourceTree& tree) {
    size_t expanded = 0;
    ShaderSourceLoader loader;
    for (auto _ : state) {
        char* text = nullptr;
        if (loader.load(tree.root.c_str(), &text) != LoadResult::loaded) {
            state.SkipWithError("the source could not be loaded");
            return;
        }
        expanded = std::strlen(text);
        benchmark::DoNotOptimize(text);
        releaseMemory(text);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * expanded));
    state.counters["expanded_bytes"] = static_cast<double>(expanded);
    state.counters["files"] = static_cast<double>(tree.files.size());
}

void BM_LoadLargeFile(benchmark::State& state) {
    loadBenchmark(state, fixtures.largeFile);
}

void BM_LoadManySmallIncludes(benchmark::State& state) {
    loadBenchmark(state, fixtures.smallIncludes);
}

void BM_LoadDeepNesting(benchmark::State& state) {
    loadBenchmark(state, fixtures.deepNesting);
}

void parseListBenchmark(benchmark::State& state, const std::string& list) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(parseOptimizationList(0x40, list.c_str()));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * list.size()));
}

void BM_ParseOptimizationListShort(benchmark::State& state) {
    parseListBenchmark(state, "all,no-fastmath");
}

void BM_ParseOptimizationListLong(benchmark::State& state) {
    std::string list = "0";
    const char* items[] = {"const", "!fastmath", "loopexpr", "no-loopvar", "sc", "unusedvar",
                           "glsl",  "no-glsl",   "all",      "none",       "1"};
    for (int round = 0; round < 20; ++round) {
        for (const char* item : items) {
            list += ',';
            list += item;
        }
    }
    parseListBenchmark(state, list);
}

void BM_ReadStreamOutList(benchmark::State& state) {
    uint32_t names = 0;
    for (auto _ : state) {
        uint32_t count = 0;
        char** list = readStreamOutList(fixtures.streamOutList.c_str(), count);
        if (list == nullptr) {
            state.SkipWithError("the list could not be read");
            return;
        }
        names = count;
        freeStringArray(list, count);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * fixtures.streamOutBytes));
    state.counters["names"] = names;
}

BENCHMARK(BM_LoadLargeFile)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadManySmallIncludes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadDeepNesting)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseOptimizationListShort);
BENCHMARK(BM_ParseOptimizationListLong);
BENCHMARK(BM_ReadStreamOutList)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    fixtureFolder = (std::filesystem::temp_directory_path() /
                     ("vrx-micro-benchmarks-" + std::to_string(getpid())))
                        .string();
    // 16 MiB in one file; 2 MiB in 2048 leaves of 1 KiB under 32 groups;
    // 64 passes down a chain of 24 files of 2 KiB.
    fixtures.largeFile = bench::writeLargeFile(fixtureFolder + "/large", 16u << 20);
    fixtures.smallIncludes = bench::writeWideTree(fixtureFolder + "/wide", 32, 64, 1024);
    fixtures.deepNesting =
        bench::writeChain(fixtureFolder + "/deep", kIncludeNestingLimit, 2048, 64);
    fixtures.streamOutList = fixtureFolder + "/varyings.so";
    bench::writeStreamOutList(fixtures.streamOutList, 20000);
    fixtures.streamOutBytes = std::filesystem::file_size(fixtures.streamOutList);

    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    bench::removeTree(fixtureFolder);
    return 0;
}
