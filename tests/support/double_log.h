// Reading the doubles' call log (see tests/doubles/double_log.h).
#pragma once

#include <string>
#include <vector>

struct LoggedCall {
    std::string name;
    std::vector<std::pair<std::string, std::string>> fields;

    // The field's value as logged; "<absent>" when the call has no such field.
    std::string operator[](const std::string& key) const;
};

std::vector<LoggedCall> parseDoubleLog(const std::string& log);

// The names of the calls, in order.
std::vector<std::string> callNames(const std::vector<LoggedCall>& calls);

// `text` as the doubles log a text field: quoted, with C escapes (so a
// Windows path's backslashes appear doubled).
std::string loggedText(const std::string& text);

// The first call of that name; a call named "<missing>" when there is none.
LoggedCall findCall(const std::vector<LoggedCall>& calls, const std::string& name);
