#include "driver/dependency_file.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <utility>

#include "platform/file_identity.h"
#include "platform/file_system.h"
#include "platform/safe_files.h"

namespace {

constexpr const char* kNotWrittenFormat =
    "vrxCompile: warning: dependency file \"%s\" not written: %s\n";
constexpr const char* kUnheldFormat =
    "vrxCompile: warning: dependency file \"%s\" cannot hold \"%s\"%s in a form both make and "
    "ninja read: the output will be rebuilt on every build\n";

// What GNU Make 4.3 and Ninja 1.11 (plain depfile and deps = gcc) read
// back, found by writing every byte in every form into a rule and asking
// both tools (make's $^, "ninja -t deps", rebuilds after a touch and after
// a deletion):
//   as they stand: letters, digits, bytes 0x80-0xFF, ! ( ) + , - . / @ [ ] \ _ { } ~
//   escaped:       space as "\ " (backslashes right before it doubled),
//                  # as "\#", $ as "$$", : as "\:" (a drive colon, "C:\", as it stands)
//   make only:     bytes 0x01-0x1F but tab and line breaks, 0x7F, " & ' < > ^ `
//                  (ninja takes them for separators)
//   neither:       tab, line feed, carriage return, ; = | (make ends the
//                  name), * ? (make needs "\*", ninja keeps the backslash),
//                  % (make takes the empty rule for a pattern rule, ninja
//                  keeps the backslash of "\%")
// and whole names neither reads: a leading ~ (make's home folder), a
// trailing \ : or space, a \ right before # $ or :, a [ with a ] after it
// (make's wildcard), a ( with a ) at the end (make's archive member).
bool isReadAsItStands(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
           c >= 0x80 || (c != '\0' && std::strchr("!()+,-./@[]\\_{}~", c) != nullptr);
}

bool isEscaped(unsigned char c) {
    return c == ' ' || c == '#' || c == '$' || c == ':';
}

bool isReadByMakeOnly(unsigned char c) {
    return (c >= 0x01 && c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0x7F ||
           (c != '\0' && std::strchr("\"&'<>^`", c) != nullptr);
}

bool isDriveColon(const std::string& name, size_t at) {
    const unsigned char letter = static_cast<unsigned char>(name[0]);
    return kPathsHaveDrives && at == 1 && name.size() > 2 &&
           ((letter | 0x20) >= 'a' && (letter | 0x20) <= 'z') &&
           (name[2] == '/' || name[2] == '\\');
}

// Forms of a whole name that Make reads otherwise, whatever its bytes.
bool hasFormNeitherReads(const std::string& name) {
    const char last = name.back();
    if (name[0] == '~' || last == '\\' || last == ':' || last == ' ') {
        return true;
    }
    for (size_t i = 0; i + 1 < name.size(); ++i) {
        if (name[i] == '\\' && std::strchr("#$:", name[i + 1]) != nullptr) {
            return true;
        }
    }
    const size_t bracket = name.find('[');
    const size_t parenthesis = name.find('(');
    return (bracket != std::string::npos && name.find(']', bracket) != std::string::npos) ||
           (parenthesis != std::string::npos && last == ')');
}

// Make reads a space preceded by 2N+1 backslashes as N backslashes and the
// space, and so does Ninja: the backslashes written just before a space are
// doubled and one more escapes it. Backslashes elsewhere are left alone:
// they are Windows folder separators.
std::string escapeForRule(const std::string& name) {
    std::string escaped;
    escaped.reserve(name.size() + 8);
    for (size_t i = 0; i < name.size(); ++i) {
        const char c = name[i];
        if (c == ' ') {
            for (size_t j = i; j > 0 && name[j - 1] == '\\'; --j) {
                escaped += '\\';
            }
            escaped += '\\';
        } else if (c == '#' || (c == ':' && !isDriveColon(name, i))) {
            escaped += '\\';
        } else if (c == '$') {
            escaped += '$';
        }
        escaped += c;
    }
    return escaped;
}

// "<target>: <names>", wrapped, then an empty rule per name, which keeps
// Make going once a listed file is deleted.
std::string ruleText(const std::string& target, const std::vector<std::string>& names) {
    std::string rule = target + ":";
    size_t lineLength = rule.size();
    for (const std::string& name : names) {
        // " \" closes a wrapped line; a name longer than a line gets its own.
        if (lineLength + 1 + name.size() + 2 > kDependencyLineWidth && lineLength > 0) {
            rule += " \\\n";
            lineLength = 0;
        }
        rule += ' ';
        rule += name;
        lineLength += 1 + name.size();
    }
    rule += '\n';
    for (const std::string& name : names) {
        rule += '\n';
        rule += name;
        rule += ":\n";
    }
    return rule;
}

// `name` on one console line: control bytes as \n, \r, \t or \xNN.
std::string printableName(const std::string& name) {
    std::string printable;
    for (const char c : name) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u != 0x7F) {
            printable += c;
        } else if (c == '\n' || c == '\r' || c == '\t') {
            printable += c == '\n' ? "\\n" : c == '\r' ? "\\r" : "\\t";
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", u);
            printable += escaped;
        }
    }
    return printable;
}

// The first of the full paths of `candidates` that both tools read, under
// which stand-ins are named; empty when there is none.
std::string standInBaseFrom(std::initializer_list<const char*> candidates) {
    for (const char* candidate : candidates) {
        char fullPath[kFullPathBufferSize];
        if (convertToFullPath(fullPath, candidate) &&
            ruleNameSupport(fullPath) == RuleNameSupport::both) {
            return fullPath;
        }
    }
    return "";
}

// The file among `written` and `read` that `depfilePath` names, if any, with
// what the run did with it.
bool findSameFile(const char* depfilePath, const std::vector<std::string>& written,
                  const std::vector<std::string>& read, std::string& reason) {
    FileIdentity depfile;
    if (!identifyFile(depfilePath, depfile)) {
        return false;
    }
    for (const auto* files : {&written, &read}) {
        for (const std::string& file : *files) {
            FileIdentity other;
            if (identifyFile(file.c_str(), other) && isSameFile(depfile, other)) {
                reason = "it is the same file as \"" + file + "\", which the run " +
                         (files == &written ? "wrote" : "read");
                return true;
            }
        }
    }
    return false;
}

}  // namespace

const char* dependencyFilePath() {
    const char* path = std::getenv(kDependencyFileVariable);
    return path != nullptr && path[0] != '\0' ? path : nullptr;
}

void addDependency(DependencyList& list, const char* path) {
    char fullPath[kFullPathBufferSize];
    std::string name = convertToFullPath(fullPath, path) ? fullPath : path;
    if (list.seen.insert(name).second) {
        list.paths.push_back(std::move(name));
    }
}

RuleNameSupport ruleNameSupport(const std::string& name) {
    if (name.empty() || hasFormNeitherReads(name)) {
        return RuleNameSupport::neither;
    }
    RuleNameSupport support = RuleNameSupport::both;
    for (const char c : name) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (isReadByMakeOnly(u)) {
            support = RuleNameSupport::makeOnly;
        } else if (!isReadAsItStands(u) && !isEscaped(u)) {
            return RuleNameSupport::neither;
        }
    }
    return support;
}

bool formatDependencyRule(const std::string& target, const std::vector<std::string>& dependencies,
                          const std::string& standInBase, DependencyRule& rule) {
    rule.text.clear();
    rule.unheld.clear();
    const RuleNameSupport targetSupport = ruleNameSupport(target);
    if (targetSupport != RuleNameSupport::both) {
        rule.unheld.push_back(target);
    }
    std::vector<std::string> names;
    for (const std::string& dependency : dependencies) {
        if (ruleNameSupport(dependency) == RuleNameSupport::both) {
            names.push_back(escapeForRule(dependency));
        } else {
            rule.unheld.push_back(dependency);
        }
    }
    if (rule.unheld.empty()) {
        rule.text = ruleText(escapeForRule(target), names);
        return true;
    }
    if (standInBase.empty()) {
        return false;
    }
    names.push_back(escapeForRule(standInBase + "/" + kUnlistedFileStandIn));
    // Ninja rebuilds on a target it cannot read; Make only on one it can.
    const std::string heldTarget = targetSupport == RuleNameSupport::neither
                                       ? standInBase + "/" + kUnlistedOutputStandIn
                                       : target;
    rule.text = ruleText(escapeForRule(heldTarget), names);
    return true;
}

void writeDependencyFile(const char* depfilePath, const char* target, const DependencyList& list,
                         const std::vector<std::string>& writtenFiles) {
    std::string error;
    if (findSameFile(depfilePath, writtenFiles, list.paths, error)) {
        std::fprintf(stderr, kNotWrittenFormat, depfilePath, error.c_str());
        return;
    }
    DependencyRule rule;
    if (!formatDependencyRule(target, list.paths, standInBaseFrom({depfilePath, target}), rule)) {
        std::fprintf(stderr, kNotWrittenFormat, depfilePath,
                     "neither its own full path nor the output's can be written in it to stand "
                     "in for a name make and ninja cannot read");
        return;
    }
    if (!safe_files::replaceFile(depfilePath, rule.text.data(), rule.text.size(), error,
                                 "dependency file")) {
        std::fprintf(stderr, kNotWrittenFormat, depfilePath, error.c_str());
        return;
    }
    if (!rule.unheld.empty()) {
        const size_t more = rule.unheld.size() - 1;
        const std::string others = more == 0 ? "" : " (and " + std::to_string(more) + " more)";
        std::fprintf(stderr, kUnheldFormat, depfilePath, printableName(rule.unheld[0]).c_str(),
                     others.c_str());
    }
}
