#include "tests/support/double_log.h"

#include <sstream>

#include "tests/doubles/double_log.h"

std::string LoggedCall::operator[](const std::string& key) const {
    for (const auto& [fieldKey, value] : fields) {
        if (fieldKey == key) {
            return value;
        }
    }
    return "<absent>";
}

std::vector<LoggedCall> parseDoubleLog(const std::string& log) {
    std::vector<LoggedCall> calls;
    std::istringstream lines(log);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("  ", 0) == 0 && !calls.empty()) {
            size_t equals = line.find('=');
            calls.back().fields.emplace_back(line.substr(2, equals - 2), line.substr(equals + 1));
        } else if (!line.empty()) {
            calls.push_back(LoggedCall{line, {}});
        }
    }
    return calls;
}

std::vector<std::string> callNames(const std::vector<LoggedCall>& calls) {
    std::vector<std::string> names;
    for (const LoggedCall& call : calls) {
        names.push_back(call.name);
    }
    return names;
}

LoggedCall findCall(const std::vector<LoggedCall>& calls, const std::string& name) {
    for (const LoggedCall& call : calls) {
        if (call.name == name) {
            return call;
        }
    }
    return LoggedCall{"<missing>", {}};
}

std::string loggedText(const std::string& text) {
    return quoted(text.c_str());
}
