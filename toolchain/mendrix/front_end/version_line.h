// A light look at a shader text before the front end sees it: the #version
// line decides the language default, whether SPIR-V can be generated, and
// lets us check the text against the language the request names.
#pragma once

#include <string_view>

namespace mendrix {

struct VersionLine {
    bool found = false;  // a #version directive is the first token of the text
    int version = 0;     // its number; 0 when not found
    bool es = false;     // profile "es", or version 100 without profile
    bool compatibility = false;
    int line = 0;  // 1-based line of the directive; 0 when not found
};

// Looks for "#version N [profile]" as the first token, skipping white space,
// comments and line continuations, the way the preprocessor would.
VersionLine scanVersionLine(std::string_view text);

}  // namespace mendrix
