#include "driver/dependency_file.h"

#include <cstdio>
#include <cstdlib>
#include <utility>

#include "platform/file_system.h"
#include "platform/safe_files.h"
#include "source/shader_source.h"

namespace {

constexpr const char* kNotWrittenFormat =
    "vrxCompile: warning: dependency file \"%s\" not written: %s\n";

// The list being filled while the run collects; null otherwise.
DependencyList* collectingList = nullptr;

void onSourceFileOpened(void* context, const char* path) {
    addDependency(*static_cast<DependencyList*>(context), path);
}

// Make reads a space or tab preceded by 2N+1 backslashes as N backslashes
// and the blank, so the backslashes written just before a blank are doubled
// and one more escapes it. Backslashes elsewhere are left alone: they are
// Windows folder separators.
std::string escapeForRule(const std::string& name) {
    std::string escaped;
    escaped.reserve(name.size() + 8);
    for (size_t i = 0; i < name.size(); ++i) {
        const char c = name[i];
        if (c == ' ' || c == '\t') {
            for (size_t j = i; j > 0 && name[j - 1] == '\\'; --j) {
                escaped += '\\';
            }
            escaped += '\\';
        } else if (c == '#') {
            escaped += '\\';
        } else if (c == '$') {
            escaped += '$';
        }
        escaped += c;
    }
    return escaped;
}

// A line break (or NUL) in a name has no escape that Make or Ninja reads.
bool isExpressibleInRule(const std::string& name) {
    return !name.empty() && name.find_first_of(std::string("\n\r\0", 3)) == std::string::npos;
}

}  // namespace

const char* dependencyFilePath() {
    const char* path = std::getenv(kDependencyFileVariable);
    return path != nullptr && path[0] != '\0' ? path : nullptr;
}

void startCollectingDependencies(DependencyList& list) {
    collectingList = &list;
    setSourceFileListener(onSourceFileOpened, &list);
}

void noteDependency(const char* path) {
    if (collectingList != nullptr) {
        addDependency(*collectingList, path);
    }
}

void addDependency(DependencyList& list, const char* path) {
    char fullPath[kFullPathBufferSize];
    std::string name = convertToFullPath(fullPath, path) ? fullPath : path;
    if (list.seen.insert(name).second) {
        list.paths.push_back(std::move(name));
    }
}

std::string formatDependencyRule(const char* target, const std::vector<std::string>& dependencies) {
    std::string rule = escapeForRule(target) + ":";
    size_t lineLength = rule.size();
    for (const std::string& dependency : dependencies) {
        const std::string escaped = escapeForRule(dependency);
        // " \" closes a wrapped line; a name longer than a line gets its own.
        if (lineLength + 1 + escaped.size() + 2 > kDependencyLineWidth && lineLength > 0) {
            rule += " \\\n";
            lineLength = 0;
        }
        rule += ' ';
        rule += escaped;
        lineLength += 1 + escaped.size();
    }
    rule += '\n';
    // An empty rule per file keeps Make going once a listed file is deleted.
    for (const std::string& dependency : dependencies) {
        rule += '\n';
        rule += escapeForRule(dependency);
        rule += ":\n";
    }
    return rule;
}

void writeDependencyFile(const char* depfilePath, const char* target, const DependencyList& list) {
    std::string error;
    bool expressible = isExpressibleInRule(target);
    for (const std::string& path : list.paths) {
        expressible = expressible && isExpressibleInRule(path);
    }
    if (!expressible) {
        error = "a file name holds a line break";
    } else {
        const std::string rule = formatDependencyRule(target, list.paths);
        if (safe_files::writeFileAtomically(depfilePath, rule.data(), rule.size(),
                                            safe_files::FileMode::shared, error)) {
            return;
        }
    }
    std::fprintf(stderr, kNotWrittenFormat, depfilePath, error.c_str());
}
