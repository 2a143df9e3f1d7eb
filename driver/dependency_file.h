// The dependency file: a Make rule naming every file a run read, so that a
// build system (Make, Ninja, CMake's DEPFILE) rebuilds the output when one of
// them changes. Asked for through VRXCOMPILE_DEPFILE, as C compilers take
// DEPENDENCIES_OUTPUT; without it nothing here runs.
#pragma once

#include <cstddef>
#include <string>
#include <unordered_set>
#include <vector>

// The environment variable naming the dependency file.
constexpr const char* kDependencyFileVariable = "VRXCOMPILE_DEPFILE";

// Lines of the rule are wrapped with " \" before they grow past this.
constexpr size_t kDependencyLineWidth = 78;

// Files read by the run, each once, by full path, in the order first read.
struct DependencyList {
    std::vector<std::string> paths;
    std::unordered_set<std::string> seen;
};

// The dependency file's path from the environment, or null when the
// variable is unset or empty.
const char* dependencyFilePath();

// From now on every file the source loader opens, and every file passed to
// noteDependency, is added to `list` (which must outlive the run).
void startCollectingDependencies(DependencyList& list);

// Adds a file the driver read itself (the stream-out list); does nothing
// while no list collects.
void noteDependency(const char* path);

// Adds `path` by its full path (as given when it has none that fits), unless
// already listed.
void addDependency(DependencyList& list, const char* path);

// The rule "<target>: <dependencies>" followed by an empty rule for each
// dependency, every name escaped for Make and Ninja: space and tab as "\ "
// (backslashes in front of them doubled), '#' as "\#", '$' as "$$"; other
// bytes pass unchanged. Long lines are wrapped with " \".
std::string formatDependencyRule(const char* target, const std::vector<std::string>& dependencies);

// Writes the rule for `target` to `depfilePath` atomically (a temporary file
// renamed over it). A name that cannot be expressed or a file that cannot be
// written gives one warning on standard error; the run's result stays.
void writeDependencyFile(const char* depfilePath, const char* target, const DependencyList& list);
