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

// Stand-ins, each put under a path that is a file while the rule is read,
// so that no file of that name can ever exist. A missing dependency with an
// empty rule makes Make and Ninja rebuild the output on every run.
constexpr const char* kUnlistedFileStandIn = "unlistable-file-name";
constexpr const char* kUnlistedOutputStandIn = "unlistable-output-name";

// Files read by the run, each once, by full path, in the order first read.
struct DependencyList {
    std::vector<std::string> paths;
    std::unordered_set<std::string> seen;
};

// The dependency file's path from the environment, or null when the
// variable is unset or empty.
const char* dependencyFilePath();

// Adds `path` by its full path (as given when it has none that fits), unless
// already listed.
void addDependency(DependencyList& list, const char* path);

// How GNU Make 4.3 and Ninja 1.11 read a name back from a rule.
enum class RuleNameSupport {
    both,      // both read it unchanged, once escaped
    makeOnly,  // Make does; Ninja splits it
    neither,
};

// Which of the two tools read `name` back unchanged (the table of bytes and
// forms is in dependency_file.cpp).
RuleNameSupport ruleNameSupport(const std::string& name);

struct DependencyRule {
    std::string text;
    // The names not held as they are, target first: the output is then
    // rebuilt on every run.
    std::vector<std::string> unheld;
};

// The rule "<target>: <dependencies>" followed by an empty rule for each
// dependency, every name escaped for Make and Ninja; long lines are wrapped
// with " \". A dependency that the two tools do not both read back is left
// out; a target that Make cannot read is replaced. Either way the rule then
// also names `standInBase` + "/" + kUnlistedFileStandIn (and for the target
// kUnlistedOutputStandIn), which can never exist when `standInBase` names a
// file: the output is rebuilt on every run until the names are fixed. False
// when such a stand-in is needed and `standInBase` is empty.
bool formatDependencyRule(const std::string& target, const std::vector<std::string>& dependencies,
                          const std::string& standInBase, DependencyRule& rule);

// Writes the rule for `target` to `depfilePath` as the output is written
// (devices and pipes in place, the user's links followed). Refused, with a
// warning, when `depfilePath` names the same file as one of `writtenFiles`
// (the output, the side files) or a file the run read. A name the rule
// cannot hold, or a file that cannot be written, gives one warning on
// standard error; the run's result stays.
void writeDependencyFile(const char* depfilePath, const char* target, const DependencyList& list,
                         const std::vector<std::string>& writtenFiles);
