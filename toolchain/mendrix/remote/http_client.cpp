// Plain HTTP storages (any server that answers GET and accepts PUT) over a
// connection of our own: one HTTP/1.1 request per connection, closed after
// the answer, every step ended by the request's absolute deadlines. Loading
// a general HTTP library would cost a remote hit more than the hit itself;
// https:// storages go to the libcurl client. Redirects are never followed.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/tcp_connection.h"
#include "toolchain/mendrix/remote/http_answer.h"
#include "toolchain/mendrix/remote/http_status.h"
#include "toolchain/mendrix/remote/storage_client.h"

namespace mendrix::remote {

namespace {

constexpr std::string_view kObjectSuffix = ".vrxc";
constexpr std::string_view kPlainScheme = "http://";
constexpr uint16_t kDefaultPort = 80;
constexpr size_t kReceiveChunk = 64 * 1024;

bool usesTls(const StorageAddress& address) {
    return !address.url.starts_with(kPlainScheme);
}

std::string base64(std::string_view bytes) {
    static constexpr char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        uint32_t group = static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])) << 16;
        if (i + 1 < bytes.size()) {
            group |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
        }
        if (i + 2 < bytes.size()) {
            group |= static_cast<unsigned char>(bytes[i + 2]);
        }
        text += kDigits[(group >> 18) & 63];
        text += kDigits[(group >> 12) & 63];
        text += i + 1 < bytes.size() ? kDigits[(group >> 6) & 63] : '=';
        text += i + 2 < bytes.size() ? kDigits[group & 63] : '=';
    }
    return text;
}

// The request line and header fields of one request for the entry `key`;
// `bodySize` is announced when the request carries a body.
std::string requestHead(std::string_view method, const StorageAddress& address,
                        const std::string& key, const uint64_t* bodySize) {
    // address.url is "http://<authority><path>/": the target is its path.
    const size_t path = address.url.find('/', kPlainScheme.size());
    std::string head = std::string(method) + ' ' + address.url.substr(path) + key +
                       std::string(kObjectSuffix) + " HTTP/1.1\r\nHost: ";
    head += address.host.find(':') == std::string::npos ? address.host : '[' + address.host + ']';
    if (address.port != kDefaultPort) {
        head += ':' + std::to_string(address.port);
    }
    head += "\r\nUser-Agent: vrxcompile\r\n";
    if (!address.user.empty() || address.hasPassword) {
        head += "Authorization: Basic " + base64(address.user + ':' + address.password) + "\r\n";
    }
    if (bodySize != nullptr) {
        head += "Content-Type: application/octet-stream\r\nContent-Length: " +
                std::to_string(*bodySize) + "\r\n";
    }
    head += "Connection: close\r\n\r\n";
    return head;
}

// One request on its own connection, and what is known of it for messages.
struct Exchange {
    Exchange(const StorageAddress& address, const RequestDeadlines& deadlines)
        : address(address), deadlines(deadlines) {}

    const StorageAddress& address;
    RequestDeadlines deadlines;
    int64_t startedAt = tcp::nowMilliseconds();
    uint64_t received = 0;
    tcp::Connection connection;
};

int64_t elapsed(const Exchange& exchange) {
    return tcp::nowMilliseconds() - exchange.startedAt;
}

StorageOutcome connectToServer(Exchange& exchange, std::string& error) {
    const tcp::Outcome outcome =
        tcp::connectTo(exchange.address.host, exchange.address.port,
                       std::min(exchange.deadlines.connectBy, exchange.deadlines.answerBy),
                       exchange.connection, error);
    if (outcome == tcp::Outcome::timedOut) {
        error = "Connection timed out after " + std::to_string(elapsed(exchange)) + " milliseconds";
    } else if (outcome == tcp::Outcome::failed) {
        error = "Failed to connect to " + exchange.address.host + " port " +
                std::to_string(exchange.address.port) + " after " +
                std::to_string(elapsed(exchange)) + " ms: " + error;
    }
    return outcome == tcp::Outcome::done ? StorageOutcome::hit : StorageOutcome::failed;
}

std::string exchangeTimedOut(const Exchange& exchange) {
    return "Operation timed out after " + std::to_string(elapsed(exchange)) +
           " milliseconds with " + std::to_string(exchange.received) + " bytes received";
}

StorageOutcome sendRequest(Exchange& exchange, std::string_view bytes, std::string& error) {
    const tcp::Outcome outcome = tcp::sendAll(exchange.connection, bytes.data(), bytes.size(),
                                              exchange.deadlines.answerBy, error);
    if (outcome == tcp::Outcome::timedOut) {
        error = exchangeTimedOut(exchange);
    }
    return outcome == tcp::Outcome::done ? StorageOutcome::hit : StorageOutcome::failed;
}

// Reads the answer until `reader` has it whole; `hit` when it has.
StorageOutcome receiveAnswer(Exchange& exchange, HttpAnswerReader& reader, std::string& error) {
    std::vector<char> buffer(kReceiveChunk);
    HttpRead read = HttpRead::more;
    while (read == HttpRead::more) {
        size_t count = 0;
        const tcp::Outcome outcome =
            tcp::receiveSome(exchange.connection, buffer.data(), buffer.size(), count,
                             exchange.deadlines.answerBy, error);
        if (outcome != tcp::Outcome::done) {
            if (outcome == tcp::Outcome::timedOut) {
                error = exchangeTimedOut(exchange);
            }
            return StorageOutcome::failed;
        }
        exchange.received += count;
        read = count == 0 ? endHttpAnswer(reader, error)
                          : feedHttpAnswer(reader, std::string_view(buffer.data(), count), error);
    }
    if (read == HttpRead::tooLarge) {
        return StorageOutcome::refused;
    }
    return read == HttpRead::complete ? StorageOutcome::hit : StorageOutcome::failed;
}

}  // namespace

StorageAnswer fetchOverHttp(const StorageAddress& address, const RequestDeadlines& deadlines,
                            const std::string& key, uint64_t maxBytes) {
    if (usesTls(address)) {
        return fetchOverHttps(address, deadlines, key, maxBytes);
    }
    StorageAnswer answer;
    Exchange exchange(address, deadlines);
    HttpAnswerReader reader;
    reader.maxBody = maxBytes;
    reader.keepBody = true;
    answer.outcome = connectToServer(exchange, answer.error);
    if (answer.outcome == StorageOutcome::hit) {
        answer.outcome =
            sendRequest(exchange, requestHead("GET", address, key, nullptr), answer.error);
    }
    if (answer.outcome == StorageOutcome::hit) {
        answer.outcome = receiveAnswer(exchange, reader, answer.error);
    }
    if (answer.outcome == StorageOutcome::hit) {
        answer.outcome = fetchOutcome(reader.status, answer.error);
        answer.bytes = std::move(reader.body);
    }
    return answer;
}

StorageAnswer storeOverHttp(const StorageAddress& address, const RequestDeadlines& deadlines,
                            const std::string& key, std::string_view bytes) {
    if (usesTls(address)) {
        return storeOverHttps(address, deadlines, key, bytes);
    }
    StorageAnswer answer;
    Exchange exchange(address, deadlines);
    HttpAnswerReader reader;
    const uint64_t size = bytes.size();
    answer.outcome = connectToServer(exchange, answer.error);
    if (answer.outcome != StorageOutcome::hit) {
        return answer;
    }
    answer.outcome = sendRequest(exchange, requestHead("PUT", address, key, &size), answer.error);
    if (answer.outcome == StorageOutcome::hit) {
        answer.outcome = sendRequest(exchange, bytes, answer.error);
    }
    // A server that refuses the body may answer and close before taking it
    // all: its answer says more than the broken send.
    std::string answerError;
    const StorageOutcome received = receiveAnswer(exchange, reader, answerError);
    if (received == StorageOutcome::hit) {
        answer.outcome = storeOutcome(reader.status, answer.error);
    } else if (answer.outcome == StorageOutcome::hit) {
        answer.outcome = received;
        answer.error = answerError;
    }
    return answer;
}

}  // namespace mendrix::remote
