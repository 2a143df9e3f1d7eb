#include "toolchain/mendrix/front_end/diagnostics.h"

#include <optional>
#include <vector>

#include "toolchain/mendrix/front_end/line_map.h"

namespace mendrix {

namespace {

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
        s.remove_suffix(1);
    }
    return s;
}

bool startsWith(std::string_view s, std::string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

std::optional<int> parseLineNumber(std::string_view digits) {
    if (digits.empty() || digits.size() > 9) {
        return std::nullopt;
    }
    int value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
    }
    return value;
}

// Finds the first "<location>:<digits>: " in `s` (the separator may also be
// ": <digits>: " as in the driver's #error lines when `spaced`).
struct Located {
    std::string_view location;
    int line = 0;
    std::string_view message;
};

std::optional<Located> splitLocation(std::string_view s, bool spaced) {
    for (size_t colon = s.find(':'); colon != std::string_view::npos;
         colon = s.find(':', colon + 1)) {
        size_t digitsStart = colon + 1;
        if (spaced) {
            if (digitsStart >= s.size() || s[digitsStart] != ' ') {
                continue;
            }
            ++digitsStart;
        }
        size_t digitsEnd = digitsStart;
        while (digitsEnd < s.size() && s[digitsEnd] >= '0' && s[digitsEnd] <= '9') {
            ++digitsEnd;
        }
        if (digitsEnd == digitsStart || digitsEnd >= s.size() || s[digitsEnd] != ':') {
            continue;
        }
        std::optional<int> line = parseLineNumber(s.substr(digitsStart, digitsEnd - digitsStart));
        if (!line || colon == 0) {
            continue;
        }
        return Located{s.substr(0, colon), *line, trim(s.substr(digitsEnd + 1))};
    }
    return std::nullopt;
}

// One diagnostic of a front-end log, continuation lines already joined.
struct RawDiagnostic {
    bool error = false;
    std::string text;
};

bool isNoise(std::string_view text) {
    // Summaries and the notice after the first error carry no information of
    // their own.
    if (text.find("compilation errors.  No code generated.") != std::string_view::npos) {
        return true;
    }
    return text.find("compilation terminated") != std::string_view::npos &&
           text.find("'' :") != std::string_view::npos;
}

std::vector<RawDiagnostic> splitLog(std::string_view log) {
    std::vector<RawDiagnostic> result;
    bool lastKept = false;
    while (!log.empty()) {
        size_t end = log.find('\n');
        std::string_view line = log.substr(0, end);
        log.remove_prefix(end == std::string_view::npos ? log.size() : end + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        static constexpr std::pair<std::string_view, bool> kPrefixes[] = {
            {"ERROR: ", true},
            {"INTERNAL ERROR: ", true},
            {"UNIMPLEMENTED: ", true},
            {"WARNING: ", false},
        };
        bool matched = false;
        for (const auto& [prefix, isError] : kPrefixes) {
            if (startsWith(line, prefix)) {
                std::string_view text = trim(line.substr(prefix.size()));
                matched = true;
                lastKept = !isNoise(text);
                if (lastKept) {
                    result.push_back({isError, std::string(text)});
                }
                break;
            }
        }
        if (matched) {
            continue;
        }
        std::string_view more = trim(line);
        if (more.empty()) {
            lastKept = false;
        } else if (lastKept && !result.empty()) {
            // Indented detail lines of a multi-line message.
            result.back().text += ' ';
            result.back().text += more;
        }
    }
    return result;
}

}  // namespace

std::string tidyMessage(std::string_view message) {
    message = trim(message);
    if (startsWith(message, "'' :")) {
        message = trim(message.substr(4));
    }
    std::string out;
    out.reserve(message.size());
    for (char c : message) {
        if (c == '\t') {
            c = ' ';
        }
        if (c == ' ' && !out.empty() && out.back() == ' ') {
            continue;
        }
        out += c;
    }
    return out;
}

void Diagnostics::error(std::string_view path, int line, std::string_view message) {
    add("error", path, line, message);
    if (errorCount++ == 0) {
        first = Entry{std::string(path), line, std::string(message)};
    }
}

void Diagnostics::warning(std::string_view path, int line, std::string_view message) {
    add("warning", path, line, message);
}

void Diagnostics::append(const Diagnostics& other) {
    if (other.lines.empty()) {
        return;
    }
    if (errorCount == 0 && other.errorCount > 0) {
        first = other.first;
    }
    if (!lines.empty()) {
        lines += '\n';
    }
    lines += other.lines;
    errorCount += other.errorCount;
}

void Diagnostics::appendWarningLog(std::string_view log) {
    if (log.empty()) {
        return;
    }
    if (!lines.empty()) {
        lines += '\n';
    }
    lines += log;
}

void Diagnostics::add(std::string_view severity, std::string_view path, int line,
                      std::string_view message) {
    if (!lines.empty()) {
        lines += '\n';
    }
    lines += path;
    lines += ':';
    lines += std::to_string(line);
    lines += ": ";
    lines += severity;
    lines += ": ";
    lines += message;
}

void Diagnostics::addStageLog(std::string_view log, std::string_view path, int versionLine,
                              const LineMap* lineMap) {
    for (const RawDiagnostic& raw : splitLog(log)) {
        std::string_view text = raw.text;
        int line = 0;
        std::string_view message = text;
        // Lines of the text before any #line directive are the ones mapped.
        bool mappable = true;
        if (startsWith(text, "#version:")) {
            line = versionLine;
            message = trim(text.substr(1));
        } else if (std::optional<Located> located = splitLocation(text, false)) {
            // Our own name, or a string number chosen with #line: either way
            // the text is this stage's.
            line = located->line;
            message = located->message;
            mappable = located->location == path;
        } else if (text.find("version") != std::string_view::npos) {
            // "version not supported" comes without a place.
            line = versionLine;
        }
        std::string place(path);
        if (lineMap != nullptr && mappable) {
            placeLine(*lineMap, line, place, line);
        }
        std::string tidy = tidyMessage(message);
        static constexpr std::string_view kErrorDirective = "'#error' :";
        if (raw.error && startsWith(tidy, kErrorDirective)) {
            std::string_view own = trim(std::string_view(tidy).substr(kErrorDirective.size()));
            // The driver's include failures read "file: line: message".
            if (std::optional<Located> where = splitLocation(own, true)) {
                error(where->location, where->line, where->message);
            } else {
                error(place, line, "#error " + std::string(own));
            }
            continue;
        }
        if (raw.error) {
            error(place, line, tidy);
        } else {
            warning(place, line, tidy);
        }
    }
}

void Diagnostics::addLinkLog(std::string_view log,
                             const std::function<std::string(std::string_view)>& pathOfStage) {
    for (const RawDiagnostic& raw : splitLog(log)) {
        std::string_view text = raw.text;
        std::string path = pathOfStage("");
        static constexpr std::string_view kLinking = "Linking ";
        if (startsWith(text, kLinking)) {
            size_t colon = text.find(':');
            std::string_view stages = text.substr(kLinking.size(), colon - kLinking.size());
            // "vertex stage" or "vertex and fragment stages": the message
            // belongs to the last stage named.
            size_t space = stages.rfind(' ');
            std::string_view head =
                space == std::string_view::npos ? stages : stages.substr(0, space);
            size_t lastSpace = head.rfind(' ');
            std::string_view stage =
                lastSpace == std::string_view::npos ? head : head.substr(lastSpace + 1);
            path = pathOfStage(stage);
        }
        std::string tidy = tidyMessage(text);
        if (raw.error) {
            error(path, 0, tidy);
        } else {
            warning(path, 0, tidy);
        }
    }
}

}  // namespace mendrix
