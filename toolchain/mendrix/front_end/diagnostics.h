// The compile log: one line per diagnostic, "path:line: error: message" or
// "path:line: warning: message", lines joined with '\n' and no newline at the
// end. Line 0 stands for a diagnostic that belongs to no particular line.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace mendrix {

struct LineMap;

class Diagnostics {
public:
    struct Entry {
        std::string path;
        int line = 0;
        std::string message;
    };

    void error(std::string_view path, int line, std::string_view message);
    void warning(std::string_view path, int line, std::string_view message);

    bool hasErrors() const { return errorCount > 0; }
    bool empty() const { return lines.empty(); }
    const std::string& text() const { return lines; }
    // The first error reported, or null.
    const Entry* firstError() const { return errorCount > 0 ? &first : nullptr; }
    // Appends the lines of `other` behind ours.
    void append(const Diagnostics& other);
    // Appends the text of a log without errors, kept from an earlier compile
    // of the same program (the compile cache).
    void appendWarningLog(std::string_view log);

    // Turns the info log of one stage's front end into log lines, reported
    // for `path` (also those under a string number that a #line directive
    // chose). An #error line of the driver's include handling, "file: line:
    // message", is reported at that file and line. `versionLine` places
    // messages about the #version directive. With `lineMap`, lines of the
    // text located under `path` are reported at the file and line they came
    // from; lines it does not cover keep the front end's numbering.
    void addStageLog(std::string_view log, std::string_view path, int versionLine,
                     const LineMap* lineMap = nullptr);

    // Turns the linker's info log into log lines. `pathOfStage` maps the
    // front end's stage names ("vertex", "fragment", ...) to a log path.
    void addLinkLog(std::string_view log,
                    const std::function<std::string(std::string_view)>& pathOfStage);

private:
    void add(std::string_view severity, std::string_view path, int line, std::string_view message);

    std::string lines;
    int errorCount = 0;
    Entry first;
};

// "'tok' :  text  " -> "'tok' : text"; "'' : text" -> "text"; runs of blanks
// collapsed. Exposed for the tests.
std::string tidyMessage(std::string_view message);

}  // namespace mendrix
