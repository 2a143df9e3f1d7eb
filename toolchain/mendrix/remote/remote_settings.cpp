#include "toolchain/mendrix/remote/remote_settings.h"

#include <cstdlib>
#include <cstring>

#include "platform/private_file.h"

namespace mendrix::remote {

namespace {

constexpr std::string_view kReadOnlySuffix = "|read-only";
constexpr uint64_t kPasswordFileLimit = 4096;

struct Scheme {
    std::string_view prefix;
    StorageKind kind;
    uint16_t defaultPort;
};
constexpr Scheme kSchemes[] = {
    {"redis://", StorageKind::redis, 6379},
    {"http://", StorageKind::http, 80},
    {"https://", StorageKind::http, 443},
};

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// "%40" and the like, as user names and passwords in URLs are written.
bool percentDecode(std::string_view text, std::string& out) {
    out.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size() || hexValue(text[i + 1]) < 0 || hexValue(text[i + 2]) < 0) {
            return false;
        }
        out += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
        i += 2;
    }
    return true;
}

bool parseNumber(std::string_view text, uint64_t limit, uint64_t& value) {
    if (text.empty() || text.size() > 10) {
        return false;
    }
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    return value <= limit;
}

bool isHostCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '-' || c == '_';
}

// "host", "host:port", "[v6]" or "[v6]:port".
bool parseHostAndPort(std::string_view text, StorageAddress& address, std::string& problem) {
    std::string_view portText;
    if (text.starts_with('[')) {
        const size_t close = text.find(']');
        if (close == std::string_view::npos ||
            text.substr(1, close - 1).find_first_not_of("0123456789abcdefABCDEF:.") !=
                std::string_view::npos) {
            problem = "its IPv6 address is not written as [address]";
            return false;
        }
        address.host = text.substr(1, close - 1);
        text.remove_prefix(close + 1);
        if (!text.empty() && !text.starts_with(':')) {
            problem = "its host is not followed by a port or a path";
            return false;
        }
        portText = text.empty() ? text : text.substr(1);
    } else {
        const size_t colon = text.find(':');
        address.host = text.substr(0, colon);
        portText = colon == std::string_view::npos ? std::string_view() : text.substr(colon + 1);
        if (colon != std::string_view::npos && portText.empty()) {
            problem = "its port is empty";
            return false;
        }
        for (char c : address.host) {
            if (!isHostCharacter(c)) {
                problem = "its host name holds a character that a host name cannot";
                return false;
            }
        }
    }
    if (address.host.empty()) {
        problem = "it names no host";
        return false;
    }
    uint64_t port = 0;
    if (!portText.empty() && (!parseNumber(portText, 65535, port) || port == 0)) {
        problem = "its port is not a number from 1 to 65535";
        return false;
    }
    if (!portText.empty()) {
        address.port = static_cast<uint16_t>(port);
    }
    return true;
}

bool parsePath(std::string_view path, StorageAddress& address, std::string& problem) {
    if (address.kind == StorageKind::redis) {
        uint64_t database = 0;
        const std::string_view number = path.empty() ? path : path.substr(1);
        if (!number.empty() && !parseNumber(number, 0xffffffffu, database)) {
            problem = "its path is not a database number";
            return false;
        }
        address.database = static_cast<uint32_t>(database);
        return true;
    }
    for (char c : path) {
        if (static_cast<unsigned char>(c) <= ' ' || c == '?' || c == '#' || c == 0x7f) {
            problem = "its path holds a blank, a control character, '?' or '#'";
            return false;
        }
    }
    return true;
}

bool parseUserInformation(std::string_view text, StorageAddress& address, std::string& problem) {
    const size_t colon = text.find(':');
    if (!percentDecode(text.substr(0, colon), address.user) ||
        (colon != std::string_view::npos &&
         !percentDecode(text.substr(colon + 1), address.password))) {
        problem = "its user or password holds a '%' that starts no escape";
        return false;
    }
    address.hasPassword = colon != std::string_view::npos;
    return true;
}

bool readDeadline(const char* name, int64_t defaultValue, int64_t& value,
                  std::vector<std::string>& problems) {
    const char* text = std::getenv(name);
    value = defaultValue;
    if (text == nullptr || text[0] == '\0') {
        return true;
    }
    uint64_t number = 0;
    if (!parseNumber(text, kLongestDeadlineMilliseconds, number) || number == 0) {
        problems.push_back(std::string(name) + " '" + text +
                           "' is not a number of milliseconds from 1 to 60000; the default " +
                           std::to_string(defaultValue) + " is used");
        return false;
    }
    value = static_cast<int64_t>(number);
    return true;
}

// The password of storages whose URL names none; false (with a problem)
// when the file is named but cannot be used.
bool passwordFromFile(std::string& password, bool& named, std::vector<std::string>& problems) {
    const char* path = std::getenv("VRXCOMPILE_REMOTE_CACHE_PASSWORD_FILE");
    named = path != nullptr && path[0] != '\0';
    if (!named) {
        return true;
    }
    std::string error;
    if (!safe_files::readPrivateFile(path, kPasswordFileLimit, password, error)) {
        problems.push_back("VRXCOMPILE_REMOTE_CACHE_PASSWORD_FILE not used: " + error);
        return false;
    }
    while (!password.empty() && (password.back() == '\n' || password.back() == '\r')) {
        password.pop_back();
    }
    return true;
}

}  // namespace

bool parseStorageAddress(std::string_view text, StorageAddress& address, std::string& problem) {
    address = StorageAddress();
    if (text.ends_with(kReadOnlySuffix)) {
        address.readOnly = true;
        text.remove_suffix(kReadOnlySuffix.size());
    } else if (text.find('|') != std::string_view::npos) {
        problem = "only \"|read-only\" may follow a URL";
        return false;
    }
    const Scheme* scheme = nullptr;
    for (const Scheme& candidate : kSchemes) {
        if (text.starts_with(candidate.prefix)) {
            scheme = &candidate;
        }
    }
    if (scheme == nullptr) {
        problem = "it is not a redis://, http:// or https:// URL";
        return false;
    }
    address.kind = scheme->kind;
    address.port = scheme->defaultPort;
    text.remove_prefix(scheme->prefix.size());
    const size_t slash = text.find('/');
    std::string_view authority = text.substr(0, slash);
    const std::string_view path = slash == std::string_view::npos ? "" : text.substr(slash);
    const size_t at = authority.rfind('@');
    if (at != std::string_view::npos) {
        if (!parseUserInformation(authority.substr(0, at), address, problem)) {
            return false;
        }
        authority.remove_prefix(at + 1);
    }
    if (!parseHostAndPort(authority, address, problem) || !parsePath(path, address, problem)) {
        return false;
    }
    const std::string origin = std::string(scheme->prefix) + std::string(authority);
    address.shown = origin + std::string(path);
    if (address.kind == StorageKind::http) {
        address.url = origin + std::string(path.empty() ? "/" : path);
        if (address.url.back() != '/') {
            address.url += '/';
        }
    }
    return true;
}

bool remoteStoragesNamed() {
    const char* text = std::getenv("VRXCOMPILE_REMOTE_CACHE");
    return text != nullptr && std::string_view(text).find_first_not_of(' ') != std::string::npos;
}

RemoteSettings remoteSettingsFromEnvironment() {
    RemoteSettings settings;
    readDeadline("VRXCOMPILE_REMOTE_CACHE_CONNECT_TIMEOUT", kDefaultConnectMilliseconds,
                 settings.connectMilliseconds, settings.problems);
    readDeadline("VRXCOMPILE_REMOTE_CACHE_TIMEOUT", kDefaultRequestMilliseconds,
                 settings.requestMilliseconds, settings.problems);
    const char* list = std::getenv("VRXCOMPILE_REMOTE_CACHE");
    std::string_view rest = list != nullptr ? list : "";
    std::string filePassword;
    bool fileNamed = false;
    bool fileUsable = true;
    bool fileRead = false;
    size_t number = 0;
    while (!rest.empty()) {
        const size_t start = rest.find_first_not_of(' ');
        if (start == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(start);
        const size_t end = rest.find(' ');
        const std::string_view text = rest.substr(0, end);
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end);
        ++number;
        StorageAddress address;
        std::string problem;
        if (!parseStorageAddress(text, address, problem)) {
            settings.problems.push_back("remote storage " + std::to_string(number) +
                                        " of VRXCOMPILE_REMOTE_CACHE is not used: " + problem);
            continue;
        }
        if (!address.hasPassword) {
            if (!fileRead) {
                fileUsable = passwordFromFile(filePassword, fileNamed, settings.problems);
                fileRead = true;
            }
            if (!fileUsable) {
                continue;  // its password cannot be had: the server would refuse it
            }
            address.password = filePassword;
            address.hasPassword = fileNamed;
        }
        settings.storages.push_back(std::move(address));
    }
    return settings;
}

}  // namespace mendrix::remote
