#include "toolchain/mendrix/front_end/version_line.h"

#include <cctype>
#include <string>

namespace mendrix {

namespace {

class Cursor {
public:
    explicit Cursor(std::string_view text) : text(text) {}

    bool atEnd() const { return pos >= text.size(); }
    char peek(size_t ahead = 0) const {
        return pos + ahead < text.size() ? text[pos + ahead] : '\0';
    }
    void advance() {
        if (text[pos] == '\n') {
            ++line;
        }
        ++pos;
    }
    int currentLine() const { return line; }

    // Skips a backslash-newline pair (with an optional carriage return) at the
    // cursor; false when there is none.
    bool skipLineContinuation() {
        if (peek() != '\\' || !(peek(1) == '\n' || (peek(1) == '\r' && peek(2) == '\n'))) {
            return false;
        }
        advance();
        if (peek() == '\r') {
            advance();
        }
        advance();
        return true;
    }

    // Skips blanks, newlines, comments and backslash-newline pairs. With
    // `stopAtNewline` a newline outside a block comment ends the skip.
    void skipSpace(bool stopAtNewline) {
        while (!atEnd()) {
            char c = peek();
            if (skipLineContinuation()) {
                continue;
            }
            if (c == '\n') {
                if (stopAtNewline) {
                    return;
                }
                advance();
            } else if (c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v') {
                advance();
            } else if (c == '/' && peek(1) == '/') {
                while (!atEnd() && peek() != '\n') {
                    advance();
                }
            } else if (c == '/' && peek(1) == '*') {
                advance();
                advance();
                while (!atEnd() && !(peek() == '*' && peek(1) == '/')) {
                    advance();
                }
                if (!atEnd()) {
                    advance();
                    advance();
                }
            } else {
                return;
            }
        }
    }

    // An identifier or number; a backslash-newline inside it joins the lines.
    std::string word() {
        std::string result;
        while (!atEnd()) {
            char c = peek();
            if (skipLineContinuation()) {
                continue;
            }
            if (std::isalnum(static_cast<unsigned char>(c)) || c == '_') {
                result += c;
                advance();
            } else {
                break;
            }
        }
        return result;
    }

private:
    std::string_view text;
    size_t pos = 0;
    int line = 1;
};

}  // namespace

VersionLine scanVersionLine(std::string_view text) {
    VersionLine result;
    Cursor cursor(text);
    cursor.skipSpace(false);
    if (cursor.peek() != '#') {
        return result;
    }
    int line = cursor.currentLine();
    cursor.advance();
    cursor.skipSpace(true);
    if (cursor.word() != "version") {
        return result;
    }
    cursor.skipSpace(true);
    std::string number = cursor.word();
    if (number.empty()) {
        return result;
    }
    int version = 0;
    for (char c : number) {
        if (c < '0' || c > '9' || version > 100000) {
            return result;
        }
        version = version * 10 + (c - '0');
    }
    cursor.skipSpace(true);
    std::string profile = cursor.word();
    result.found = true;
    result.version = version;
    result.line = line;
    // Without a profile, 100 is ESSL, and 300, 310 and 320 exist only as
    // ESSL versions (the front end asks for the profile).
    bool esslOnly = version == 100 || version == 300 || version == 310 || version == 320;
    result.es = profile == "es" || (profile.empty() && esslOnly);
    result.compatibility = profile == "compatibility";
    return result;
}

}  // namespace mendrix
