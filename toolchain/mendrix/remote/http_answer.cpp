#include "toolchain/mendrix/remote/http_answer.h"

#include <algorithm>
#include <cstdint>

#include "toolchain/mendrix/remote/storage_client.h"

namespace mendrix::remote {

namespace {

using Phase = HttpAnswerReader::Phase;

constexpr size_t kChunkLineMaxBytes = 4096;
constexpr uint64_t kHugeNumber = uint64_t{1} << 62;  // where numbers stop growing
constexpr uint64_t kReserveAtMost = uint64_t{1} << 20;
constexpr std::string_view kVersionPrefix = "HTTP/1.";
constexpr const char* kBadStatusLine = "its status line is not \"HTTP/1.x <3 digits> <reason>\"";

HttpRead malformed(std::string& error, const char* what) {
    error = std::string("the answer is not valid HTTP: ") + what;
    return HttpRead::malformed;
}

// value * base + digit, held at kHugeNumber once past it: leading zeros
// change nothing, and no number of digits overflows.
uint64_t appendDigit(uint64_t value, uint64_t base, int digit) {
    return value >= kHugeNumber / base ? kHugeNumber : value * base + static_cast<uint64_t>(digit);
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

int hexDigit(char c) {
    if (isDigit(c)) {
        return c - '0';
    }
    const char lower = static_cast<char>(c | 0x20);
    return lower >= 'a' && lower <= 'f' ? lower - 'a' + 10 : -1;
}

// A control character other than a tab: never part of a field or a reason.
bool isControl(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return (byte < ' ' && c != '\t') || byte == 0x7f;
}

bool isTokenCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || isDigit(c) ||
           std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

bool sameNameIgnoringCase(std::string_view name, std::string_view lowerCase) {
    return name.size() == lowerCase.size() &&
           std::equal(name.begin(), name.end(), lowerCase.begin(),
                      [](char a, char b) { return (a >= 'A' && a <= 'Z' ? a | 0x20 : a) == b; });
}

std::string_view trimBlanks(std::string_view text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// "HTTP/1.x 200 OK" (the reason may be empty or missing).
HttpRead readStatusLine(HttpAnswerReader& reader, std::string_view line, std::string& error) {
    if (line.size() < 12 || !line.starts_with(kVersionPrefix) ||
        (line[7] != '0' && line[7] != '1') || line[8] != ' ' || !isDigit(line[9]) ||
        !isDigit(line[10]) || !isDigit(line[11]) || line[9] == '0' ||
        (line.size() > 12 && line[12] != ' ') || std::any_of(line.begin(), line.end(), isControl)) {
        return malformed(error, kBadStatusLine);
    }
    reader.http10 = line[7] == '0';
    reader.status = (line[9] - '0') * 100 + (line[10] - '0') * 10 + (line[11] - '0');
    return HttpRead::more;
}

HttpRead readContentLength(HttpAnswerReader& reader, std::string_view value, std::string& error) {
    if (value.empty() || !std::all_of(value.begin(), value.end(), isDigit)) {
        return malformed(error, "its Content-Length is not a number");
    }
    uint64_t length = 0;
    for (char c : value) {
        length = appendDigit(length, 10, c - '0');
    }
    if (reader.lengthAnnounced && reader.announcedLength != length) {
        return malformed(error, "it announces two different Content-Lengths");
    }
    reader.lengthAnnounced = true;
    reader.announcedLength = length;
    return HttpRead::more;
}

// "Name: value". The fields that frame the body are kept; others pass.
HttpRead readField(HttpAnswerReader& reader, std::string_view line, std::string& error) {
    const size_t colon = line.find(':');
    const std::string_view name = line.substr(0, colon);
    if (colon == std::string_view::npos || name.empty() ||
        !std::all_of(name.begin(), name.end(), isTokenCharacter) ||
        std::any_of(line.begin(), line.end(), isControl)) {
        return malformed(error, "one of its header lines is not \"Name: value\"");
    }
    const std::string_view value = trimBlanks(line.substr(colon + 1));
    if (reader.phase != Phase::head) {
        return HttpRead::more;  // a trailer changes nothing here
    }
    if (sameNameIgnoringCase(name, "content-length")) {
        return readContentLength(reader, value, error);
    }
    if (sameNameIgnoringCase(name, "transfer-encoding")) {
        if (reader.transferEncoding || !sameNameIgnoringCase(value, "chunked")) {
            return malformed(error, "its Transfer-Encoding is not \"chunked\" alone");
        }
        reader.transferEncoding = true;
        reader.chunked = true;
    }
    return HttpRead::more;
}

void startHead(HttpAnswerReader& reader) {
    const uint64_t maxBody = reader.maxBody;
    const bool keepBody = reader.keepBody;
    reader = HttpAnswerReader();
    reader.maxBody = maxBody;
    reader.keepBody = keepBody;
}

// The blank line after the header fields: what follows them.
HttpRead endHead(HttpAnswerReader& reader, std::string& error) {
    if (reader.status >= 100 && reader.status < 200) {
        if (reader.status == 101) {
            return malformed(error, "it switches to a protocol that was not asked for");
        }
        startHead(reader);  // an interim answer: the real one follows
        return HttpRead::more;
    }
    if (reader.transferEncoding && reader.lengthAnnounced) {
        return malformed(error, "its body is framed by both Transfer-Encoding and Content-Length");
    }
    if (reader.transferEncoding && reader.http10) {
        return malformed(error, "an HTTP/1.0 answer cannot use Transfer-Encoding");
    }
    if (!reader.keepBody || reader.status != 200) {
        reader.phase = Phase::done;
        return HttpRead::complete;
    }
    if (reader.chunked) {
        reader.phase = Phase::chunkSize;
        return HttpRead::more;
    }
    if (!reader.lengthAnnounced) {
        reader.phase = Phase::closeBody;
        return HttpRead::more;
    }
    if (reader.announcedLength > reader.maxBody) {
        error = answerTooLarge(reader.maxBody);
        return HttpRead::tooLarge;
    }
    reader.body.reserve(std::min(reader.announcedLength, kReserveAtMost));
    reader.remaining = reader.announcedLength;
    reader.phase = reader.remaining == 0 ? Phase::done : Phase::sizedBody;
    return reader.remaining == 0 ? HttpRead::complete : HttpRead::more;
}

// "<hex size>[;extensions]" before each chunk; 0 ends the body.
HttpRead readChunkSize(HttpAnswerReader& reader, std::string_view line, std::string& error) {
    size_t digits = 0;
    uint64_t size = 0;
    for (; digits < line.size() && hexDigit(line[digits]) >= 0; ++digits) {
        size = appendDigit(size, 16, hexDigit(line[digits]));
    }
    const std::string_view rest = trimBlanks(line.substr(digits));
    if (digits == 0 || (!rest.empty() && rest[0] != ';') ||
        std::any_of(rest.begin(), rest.end(), isControl)) {
        return malformed(error, "a chunk does not start with its size in hex");
    }
    if (size > reader.maxBody - reader.body.size()) {
        error = answerTooLarge(reader.maxBody);
        return HttpRead::tooLarge;
    }
    reader.remaining = size;
    reader.headBytes = 0;
    reader.phase = size == 0 ? Phase::trailer : Phase::chunkData;
    return HttpRead::more;
}

// One whole line, without its CRLF, in the phase that reads lines.
HttpRead readLine(HttpAnswerReader& reader, std::string_view line, std::string& error) {
    switch (reader.phase) {
        case Phase::head:
            if (reader.status == 0) {
                return readStatusLine(reader, line, error);
            }
            return line.empty() ? endHead(reader, error) : readField(reader, line, error);
        case Phase::trailer:
            if (line.empty()) {
                reader.phase = Phase::done;
                return HttpRead::complete;
            }
            return readField(reader, line, error);
        case Phase::chunkSize:
            return readChunkSize(reader, line, error);
        case Phase::chunkEnd:
            if (!line.empty()) {
                return malformed(error, "a chunk is longer than its size");
            }
            reader.phase = Phase::chunkSize;
            return HttpRead::more;
        default:
            return malformed(error, "it was read past its end");
    }
}

size_t lineBound(const HttpAnswerReader& reader) {
    const bool fields = reader.phase == Phase::head || reader.phase == Phase::trailer;
    return fields ? kHttpHeadMaxBytes - std::min(reader.headBytes, kHttpHeadMaxBytes)
                  : kChunkLineMaxBytes;
}

// Takes bytes up to the end of the line in progress; `more` while it has
// not ended.
HttpRead takeLine(HttpAnswerReader& reader, std::string_view& bytes, std::string& error) {
    const size_t end = bytes.find('\n');
    const size_t taken = end == std::string_view::npos ? bytes.size() : end + 1;
    if (reader.pending.size() + taken > lineBound(reader)) {
        return malformed(error, reader.phase == Phase::head || reader.phase == Phase::trailer
                                    ? "its header is larger than 64 KiB"
                                    : "a chunk size line is longer than 4 KiB");
    }
    reader.pending.append(bytes.substr(0, taken));
    bytes.remove_prefix(taken);
    // A server that speaks something else is known by its first bytes,
    // without waiting for a line end that may never come.
    if (reader.phase == Phase::head && reader.status == 0 &&
        !kVersionPrefix.starts_with(
            std::string_view(reader.pending).substr(0, kVersionPrefix.size()))) {
        return malformed(error, kBadStatusLine);
    }
    if (end == std::string_view::npos) {
        return HttpRead::more;
    }
    reader.headBytes += reader.pending.size();
    if (reader.pending.size() < 2 || reader.pending[reader.pending.size() - 2] != '\r') {
        return malformed(error, "a line does not end in CR LF");
    }
    const std::string line = reader.pending.substr(0, reader.pending.size() - 2);
    reader.pending.clear();
    if (line.find('\r') != std::string::npos) {
        return malformed(error, "a line holds a lone CR");
    }
    return readLine(reader, line, error);
}

// Takes body bytes of a sized body or chunk.
HttpRead takeSized(HttpAnswerReader& reader, std::string_view& bytes) {
    const size_t taken = static_cast<size_t>(std::min<uint64_t>(reader.remaining, bytes.size()));
    reader.body.append(bytes.substr(0, taken));
    bytes.remove_prefix(taken);
    reader.remaining -= taken;
    if (reader.remaining > 0) {
        return HttpRead::more;
    }
    if (reader.phase == Phase::chunkData) {
        reader.phase = Phase::chunkEnd;
        return HttpRead::more;
    }
    reader.phase = Phase::done;
    return HttpRead::complete;
}

}  // namespace

HttpRead feedHttpAnswer(HttpAnswerReader& reader, std::string_view bytes, std::string& error) {
    HttpRead read = HttpRead::more;
    while (read == HttpRead::more && !bytes.empty()) {
        switch (reader.phase) {
            case Phase::sizedBody:
            case Phase::chunkData:
                read = takeSized(reader, bytes);
                break;
            case Phase::closeBody:
                if (bytes.size() > reader.maxBody - reader.body.size()) {
                    error = answerTooLarge(reader.maxBody);
                    return HttpRead::tooLarge;
                }
                reader.body.append(bytes);
                bytes = {};
                break;
            case Phase::done:
                return HttpRead::complete;
            default:
                read = takeLine(reader, bytes, error);
                break;
        }
    }
    return read;
}

HttpRead endHttpAnswer(HttpAnswerReader& reader, std::string& error) {
    if (reader.phase == Phase::closeBody || reader.phase == Phase::done) {
        reader.phase = Phase::done;
        return HttpRead::complete;
    }
    if (reader.phase == Phase::head && reader.status == 0 && reader.pending.empty()) {
        error = "the server closed the connection without answering";
    } else {
        error = "the server closed the connection before the answer was complete";
    }
    return HttpRead::malformed;
}

}  // namespace mendrix::remote
