// The HTTP storage's answer reader on any bytes: read whole, then in two
// pieces cut where the first byte says, the verdict, status and body must
// agree (a byte that lands at a piece's edge is read like any other), and
// no kept body may pass the bound.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "toolchain/mendrix/remote/http_answer.h"

namespace {

using mendrix::remote::HttpAnswerReader;
using mendrix::remote::HttpRead;

constexpr uint64_t kMaxBody = 4096;

HttpRead readInPieces(HttpAnswerReader& reader, std::string_view bytes, size_t cut) {
    reader.maxBody = kMaxBody;
    reader.keepBody = true;
    std::string error;
    HttpRead read = feedHttpAnswer(reader, bytes.substr(0, cut), error);
    if (read == HttpRead::more && cut < bytes.size()) {
        read = feedHttpAnswer(reader, bytes.substr(cut), error);
    }
    return read == HttpRead::more ? endHttpAnswer(reader, error) : read;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    HttpAnswerReader whole;
    HttpAnswerReader pieces;
    const HttpRead read = readInPieces(whole, bytes, bytes.size());
    FUZZ_CHECK(readInPieces(pieces, bytes, data[0] % (bytes.size() + 1)) == read);
    if (read == HttpRead::complete) {
        FUZZ_CHECK(whole.status >= 200 && whole.status <= 999);
        FUZZ_CHECK(whole.body.size() <= kMaxBody);
        FUZZ_CHECK(pieces.status == whole.status && pieces.body == whole.body);
    }
    return 0;
}
