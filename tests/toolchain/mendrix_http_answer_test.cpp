// The HTTP storage's reader of answers: what it takes, what it refuses and
// where it stops, read whole and one byte at a time.
#include <gtest/gtest.h>

#include <string>

#include "toolchain/mendrix/remote/http_answer.h"

namespace {

using mendrix::remote::HttpRead;

struct Case {
    const char* name;
    std::string answer;  // then the server closes the connection
    HttpRead read;
    int status;
    const char* body;
    const char* error;  // a part of the error text
};

const std::string kOk = "HTTP/1.1 200 OK\r\n";
const std::string kMalformed = "not valid HTTP";
constexpr uint64_t kMaxBody = 10;

const Case kCases[] = {
    {"sized body", kOk + "Content-Length: 5\r\n\r\nhelloEXTRA", HttpRead::complete, 200, "hello",
     ""},
    {"empty body, no reason", "HTTP/1.1 200\r\ncontent-length:0\r\n\r\n", HttpRead::complete, 200,
     "", ""},
    {"miss: body not read", "HTTP/1.1 404 Not Found\r\nContent-Length: 99\r\n\r\nnot",
     HttpRead::complete, 404, "", ""},
    {"chunked with extension and trailer",
     kOk + "Transfer-Encoding: Chunked\r\n\r\n3;x=y\r\nabc\r\n2 \r\nde\r\n0\r\nX-T: 1\r\n\r\n",
     HttpRead::complete, 200, "abcde", ""},
    {"until close", "HTTP/1.0 200 OK\r\nServer: x\r\n\r\nrest", HttpRead::complete, 200, "rest",
     ""},
    {"interim answer skipped", "HTTP/1.1 100 Continue\r\n\r\n" + kOk + "Content-Length: 1\r\n\r\nz",
     HttpRead::complete, 200, "z", ""},
    {"announced too large", kOk + "Content-Length: 11\r\n\r\n", HttpRead::tooLarge, 0, "",
     "larger than 10 bytes"},
    {"length past 64 bits", kOk + "Content-Length: 99999999999999999999\r\n\r\n",
     HttpRead::tooLarge, 0, "", "larger than"},
    {"chunks too large", kOk + "Transfer-Encoding: chunked\r\n\r\n6\r\nabcdef\r\n5\r\n",
     HttpRead::tooLarge, 0, "", "larger than"},
    {"chunk size past 64 bits", kOk + "Transfer-Encoding: chunked\r\n\r\n10000000000000000\r\n",
     HttpRead::tooLarge, 0, "", "larger than"},
    {"leading zeros", kOk + "Content-Length: 000000000000000000002\r\n\r\nab", HttpRead::complete,
     200, "ab", ""},
    {"too large until close", "HTTP/1.1 200 OK\r\n\r\n0123456789x", HttpRead::tooLarge, 0, "",
     "larger than"},
    {"nothing", "", HttpRead::malformed, 0, "", "closed the connection without answering"},
    {"sized body cut short", kOk + "Content-Length: 9\r\n\r\nabc", HttpRead::malformed, 0, "",
     "before the answer was complete"},
    {"head cut short", kOk + "Content-Le", HttpRead::malformed, 0, "", "before the answer"},
    {"chunks cut short", kOk + "Transfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n",
     HttpRead::malformed, 0, "", "before the answer"},
    {"Redis answer", "+OK\r\n", HttpRead::malformed, 0, "", "status line"},
    {"HTTP/2 status line", "HTTP/2 200\r\n\r\n", HttpRead::malformed, 0, "", "status line"},
    {"two-digit status", "HTTP/1.1 20 OK\r\n\r\n", HttpRead::malformed, 0, "", "status line"},
    {"lines ended by LF", "HTTP/1.1 200 OK\n\n", HttpRead::malformed, 0, "", "CR LF"},
    {"lone CR", kOk + "A: b\rc\r\n\r\n", HttpRead::malformed, 0, "", "lone CR"},
    {"folded header line", kOk + "A: b\r\n c\r\n\r\n", HttpRead::malformed, 0, "",
     kMalformed.c_str()},
    {"blank before colon", kOk + "Content-Length : 1\r\n\r\nz", HttpRead::malformed, 0, "",
     kMalformed.c_str()},
    {"NUL in a value", kOk + std::string("A: b\0c\r\n\r\n", 10), HttpRead::malformed, 0, "",
     kMalformed.c_str()},
    {"signed length", kOk + "Content-Length: +1\r\n\r\nz", HttpRead::malformed, 0, "",
     "not a number"},
    {"two lengths", kOk + "Content-Length: 1\r\nContent-Length: 2\r\n\r\nzz", HttpRead::malformed,
     0, "", "two different"},
    {"length and chunked", kOk + "Content-Length: 1\r\nTransfer-Encoding: chunked\r\n\r\n",
     HttpRead::malformed, 0, "", "both"},
    {"compressed", kOk + "Transfer-Encoding: gzip, chunked\r\n\r\n", HttpRead::malformed, 0, "",
     "chunked"},
    {"chunk longer than its size", kOk + "Transfer-Encoding: chunked\r\n\r\n1\r\nab\r\n",
     HttpRead::malformed, 0, "", "longer than its size"},
    {"chunk size not hex", kOk + "Transfer-Encoding: chunked\r\n\r\nz\r\n", HttpRead::malformed, 0,
     "", "size in hex"},
    {"protocol switch", "HTTP/1.1 101 Switching\r\n\r\n", HttpRead::malformed, 0, "", "protocol"},
    {"header over 64 KiB", kOk + "A: " + std::string(70000, 'a') + "\r\n\r\n", HttpRead::malformed,
     0, "", "larger than 64 KiB"},
};

HttpRead readAnswer(mendrix::remote::HttpAnswerReader& reader, const std::string& answer,
                    size_t step, std::string& error) {
    HttpRead read = HttpRead::more;
    for (size_t at = 0; read == HttpRead::more && at < answer.size(); at += step) {
        read = feedHttpAnswer(reader, std::string_view(answer).substr(at, step), error);
    }
    return read == HttpRead::more ? endHttpAnswer(reader, error) : read;
}

TEST(MendrixHttpAnswer, ReadsStrictlyWithinBounds) {
    for (const Case& c : kCases) {
        for (size_t step : {c.answer.size() + 1, size_t{1}}) {
            SCOPED_TRACE(std::string(c.name) + (step == 1 ? ", byte by byte" : ", whole"));
            mendrix::remote::HttpAnswerReader reader;
            reader.maxBody = kMaxBody;
            reader.keepBody = true;
            std::string error;
            EXPECT_EQ(readAnswer(reader, c.answer, step, error), c.read);
            EXPECT_NE(error.find(c.error), std::string::npos) << error;
            if (c.read == HttpRead::complete) {
                EXPECT_EQ(reader.status, c.status);
                EXPECT_EQ(reader.body, c.body);
            }
        }
    }
}

}  // namespace
