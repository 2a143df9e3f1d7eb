// Reading a server's HTTP/1.x answer as it arrives, strictly and within
// bounds: the status line and header fields (at most kHttpHeadMaxBytes
// together, lines ended by CRLF), then a body framed by Content-Length, by
// chunked transfer coding or by the end of the connection. Interim 1xx
// answers are skipped. A body longer than `maxBody` is refused as soon as
// its length is announced, or once that many bytes came in. Only the body
// of a 200 answer is kept when `keepBody` is set; any other answer is
// complete with its head, since the connection is not reused.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace mendrix::remote {

constexpr size_t kHttpHeadMaxBytes = 64 * 1024;

enum class HttpRead {
    more,       // the answer goes on: feed what arrives next
    complete,   // `status` (and `body`) hold the answer; later bytes are not read
    malformed,  // not HTTP, or cut short: `error` says how
    tooLarge,   // the body passes `maxBody`
};

struct HttpAnswerReader {
    // Set by the caller before the first bytes.
    uint64_t maxBody = 0;
    bool keepBody = false;

    // The answer, once complete.
    int status = 0;
    std::string body;

    // Progress through the answer.
    enum class Phase { head, sizedBody, chunkSize, chunkData, chunkEnd, trailer, closeBody, done };
    Phase phase = Phase::head;
    std::string pending;     // bytes of a line not yet complete
    size_t headBytes = 0;    // of the current head or trailer, for its bound
    uint64_t remaining = 0;  // of the sized body or the current chunk
    bool http10 = false;
    bool lengthAnnounced = false;
    uint64_t announcedLength = 0;  // held at 2^62 for anything longer
    bool transferEncoding = false;
    bool chunked = false;
};

// Reads the next bytes of the answer. After anything but `more`, the reader
// is not fed again.
HttpRead feedHttpAnswer(HttpAnswerReader& reader, std::string_view bytes, std::string& error);

// The server closed the connection: completes a body that runs to the end
// of the connection, and finds any other answer cut short.
HttpRead endHttpAnswer(HttpAnswerReader& reader, std::string& error);

}  // namespace mendrix::remote
