#include "toolchain/mendrix/cache/cache_base_folder.h"

#include "toolchain/common/folded_path.h"

namespace mendrix {

namespace {

bool isSeparator(char c) {
#ifdef _WIN32
    return c == '/' || c == '\\';
#else
    return c == '/';
#endif
}

bool isAbsolute(std::string_view path) {
#ifdef _WIN32
    const bool drive = path.size() >= 3 && path[1] == ':' && isSeparator(path[2]);
    return drive || (!path.empty() && isSeparator(path[0]));
#else
    return !path.empty() && path[0] == '/';
#endif
}

// True when `text` starts with a path under `base` (the separator behind
// the base folder stays in what follows).
bool startsUnder(std::string_view text, const std::string& base) {
    return text.starts_with(base) && (isSeparator(base.back()) || (text.size() > base.size() &&
                                                                   isSeparator(text[base.size()])));
}

}  // namespace

bool parseBaseFolder(const char* text, std::string& base) {
    if (text == nullptr || !isAbsolute(text)) {
        return false;
    }
    base = toolchain::foldPath(text);
    while (base.size() > 1 && isSeparator(base.back()) && !(base.size() == 3 && base[1] == ':')) {
        base.pop_back();
    }
    return true;
}

std::string keyPathOf(std::string_view path, const std::string& base) {
    if (base.empty()) {
        return std::string(path);
    }
    return startsUnder(path, base) ? "+" + std::string(path.substr(base.size()))
                                   : "-" + std::string(path);
}

std::string storedLogOf(std::string_view log, const std::string& base) {
    if (base.empty()) {
        return std::string(log);
    }
    std::string stored;
    while (!log.empty()) {
        const size_t end = log.find('\n');
        const std::string_view line = log.substr(0, end);
        stored += startsUnder(line, base) ? "+" + std::string(line.substr(base.size()))
                                          : "-" + std::string(line);
        if (end == std::string_view::npos) {
            break;
        }
        stored += '\n';
        log.remove_prefix(end + 1);
    }
    return stored;
}

bool localLogOf(std::string_view stored, const std::string& base, std::string& log) {
    if (base.empty()) {
        log = stored;
        return true;
    }
    log.clear();
    while (!stored.empty()) {
        const size_t end = stored.find('\n');
        const std::string_view line = stored.substr(0, end);
        if (line.starts_with('+')) {
            log += base;
        } else if (!line.starts_with('-')) {
            return false;
        }
        log += line.substr(1);
        if (end == std::string_view::npos) {
            break;
        }
        log += '\n';
        stored.remove_prefix(end + 1);
    }
    return true;
}

}  // namespace mendrix
