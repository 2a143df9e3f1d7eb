// Redis through libhiredis's command formatter and reply reader over a
// connection of our own, so that every step ends by the request's absolute
// deadlines (hiredis's own timeouts restart with every byte received).
#include <hiredis/hiredis.h>

#include <algorithm>
#include <cstddef>
#include <memory>
#include <vector>

#include "platform/tcp_connection.h"
#include "toolchain/mendrix/remote/client_library.h"
#include "toolchain/mendrix/remote/storage_client.h"

namespace mendrix::remote {

namespace {

constexpr const char* kHiredisLibrary = "libhiredis.so.0.14";
constexpr const char* kKeyPrefix = "vrxcompile:";
constexpr size_t kReceiveChunk = 64 * 1024;
constexpr size_t kLongestErrorText = 200;

struct HiredisEntryPoints {
    redisReader* (*readerCreate)();
    void (*readerFree)(redisReader*);
    int (*readerFeed)(redisReader*, const char*, size_t);
    int (*readerGetReply)(redisReader*, void**);
    void (*freeReplyObject)(void*);
    int (*formatCommandArgv)(char**, int, const char**, const size_t*);
    void (*freeCommand)(char*);
};

const HiredisEntryPoints* hiredis(std::string& error) {
    static const EntryPointName kNames[] = {
        {"redisReaderCreate", offsetof(HiredisEntryPoints, readerCreate)},
        {"redisReaderFree", offsetof(HiredisEntryPoints, readerFree)},
        {"redisReaderFeed", offsetof(HiredisEntryPoints, readerFeed)},
        {"redisReaderGetReply", offsetof(HiredisEntryPoints, readerGetReply)},
        {"freeReplyObject", offsetof(HiredisEntryPoints, freeReplyObject)},
        {"redisFormatCommandArgv", offsetof(HiredisEntryPoints, formatCommandArgv)},
        {"redisFreeCommand", offsetof(HiredisEntryPoints, freeCommand)},
    };
    static HiredisEntryPoints entryPoints{};
    static std::string loadError;
    static const bool loaded =
        bindClientLibrary(kHiredisLibrary, kNames, std::size(kNames), &entryPoints, loadError);
    if (!loaded) {
        error = loadError + " (install libhiredis0.14)";
    }
    return loaded ? &entryPoints : nullptr;
}

// A server's error text, cut short and without control characters.
std::string serverText(const redisReply& reply) {
    std::string text(reply.str != nullptr ? reply.str : "", reply.str != nullptr ? reply.len : 0);
    if (text.size() > kLongestErrorText) {
        text.resize(kLongestErrorText);
    }
    for (char& c : text) {
        c = static_cast<unsigned char>(c) < ' ' ? ' ' : c;
    }
    return text;
}

// The length a bulk answer announces ("$<digits>\r\n"), once its first
// line is in; -1 while it is not, or for another kind of answer.
int64_t announcedLength(const std::string& start) {
    const size_t end = start.find("\r\n");
    if (start.empty() || start[0] != '$' || end == std::string::npos) {
        return -1;
    }
    int64_t length = 0;
    for (size_t i = 1; i < end; ++i) {
        if (start[i] < '0' || start[i] > '9' || length > (int64_t{1} << 40)) {
            return -1;
        }
        length = length * 10 + (start[i] - '0');
    }
    return length;
}

class RedisSession {
public:
    RedisSession(const HiredisEntryPoints& api, const RequestDeadlines& deadlines)
        : api(api), deadlines(deadlines) {}

    ~RedisSession() {
        if (reply != nullptr) {
            api.freeReplyObject(reply);
        }
    }

    StorageOutcome connect(const StorageAddress& address, std::string& error) {
        tcp::Outcome outcome =
            tcp::connectTo(address.host, address.port,
                           std::min(deadlines.connectBy, deadlines.answerBy), connection, error);
        return outcome == tcp::Outcome::done ? StorageOutcome::hit : StorageOutcome::failed;
    }

    // Sends one command and reads its reply into `reply`. `maxBytes` bounds
    // what is read for it.
    StorageOutcome command(const std::vector<std::string_view>& words, uint64_t maxBytes,
                           std::string& error) {
        if (reply != nullptr) {
            api.freeReplyObject(reply);
            reply = nullptr;
        }
        std::vector<const char*> argv;
        std::vector<size_t> lengths;
        for (std::string_view word : words) {
            argv.push_back(word.data());
            lengths.push_back(word.size());
        }
        char* formatted = nullptr;
        const int size = api.formatCommandArgv(&formatted, static_cast<int>(argv.size()),
                                               argv.data(), lengths.data());
        if (size < 0) {
            error = "the command could not be formatted";
            return StorageOutcome::failed;
        }
        const tcp::Outcome sent = tcp::sendAll(connection, formatted, static_cast<size_t>(size),
                                               deadlines.answerBy, error);
        api.freeCommand(formatted);
        return sent == tcp::Outcome::done ? receiveReply(maxBytes, error) : StorageOutcome::failed;
    }

    const redisReply* lastReply() const { return reply; }

private:
    StorageOutcome receiveReply(uint64_t maxBytes, std::string& error) {
        std::unique_ptr<redisReader, void (*)(redisReader*)> reader(api.readerCreate(),
                                                                    api.readerFree);
        if (reader == nullptr) {
            error = "out of memory";
            return StorageOutcome::failed;
        }
        std::vector<char> buffer(kReceiveChunk);
        std::string start;
        uint64_t total = 0;
        for (;;) {
            size_t received = 0;
            if (tcp::receiveSome(connection, buffer.data(), buffer.size(), received,
                                 deadlines.answerBy, error) != tcp::Outcome::done) {
                return StorageOutcome::failed;
            }
            if (received == 0) {
                error = "the server closed the connection";
                return StorageOutcome::failed;
            }
            total += received;
            if (start.size() < 32) {
                start.append(buffer.data(), std::min<size_t>(received, 32 - start.size()));
            }
            const int64_t announced = announcedLength(start);
            if ((announced >= 0 && static_cast<uint64_t>(announced) > maxBytes) ||
                total > maxBytes + 64) {
                error = answerTooLarge(maxBytes);
                return StorageOutcome::refused;
            }
            void* answer = nullptr;
            if (api.readerFeed(reader.get(), buffer.data(), received) != REDIS_OK ||
                api.readerGetReply(reader.get(), &answer) != REDIS_OK) {
                error = "the answer is not in the Redis protocol";
                return StorageOutcome::failed;
            }
            if (answer != nullptr) {
                reply = static_cast<redisReply*>(answer);
                return StorageOutcome::hit;
            }
        }
    }

    const HiredisEntryPoints& api;
    RequestDeadlines deadlines;
    tcp::Connection connection;
    redisReply* reply = nullptr;
};

bool isAuthenticationError(const std::string& text) {
    return text.starts_with("NOAUTH") || text.starts_with("WRONGPASS") ||
           text.starts_with("ERR invalid password") || text.starts_with("NOPERM");
}

// An error answer: a refusal of this command, or a failure of the whole
// storage when it is about the password.
StorageOutcome errorOutcome(const redisReply& reply, std::string& error) {
    error = "the server answered: " + serverText(reply);
    return isAuthenticationError(serverText(reply)) ? StorageOutcome::failed
                                                    : StorageOutcome::refused;
}

// Connects, then authenticates and selects the database where the address
// asks for it.
StorageOutcome openSession(RedisSession& session, const StorageAddress& address,
                           std::string& error) {
    StorageOutcome outcome = session.connect(address, error);
    if (outcome != StorageOutcome::hit) {
        return outcome;
    }
    const std::string database = std::to_string(address.database);
    std::vector<std::vector<std::string_view>> commands;
    if (address.hasPassword && !address.user.empty()) {
        commands.push_back({"AUTH", address.user, address.password});
    } else if (address.hasPassword) {
        commands.push_back({"AUTH", address.password});
    }
    if (address.database != 0) {
        commands.push_back({"SELECT", database});
    }
    for (const auto& words : commands) {
        outcome = session.command(words, 4096, error);
        if (outcome != StorageOutcome::hit) {
            return outcome;
        }
        if (session.lastReply()->type == REDIS_REPLY_ERROR) {
            errorOutcome(*session.lastReply(), error);
            return StorageOutcome::failed;
        }
    }
    return StorageOutcome::hit;
}

// Opens a session and sends the one command of a request; `readReply`
// makes the answer of its reply.
template <typename ReadReply>
StorageAnswer oneCommand(const StorageAddress& address, const RequestDeadlines& deadlines,
                         const std::vector<std::string_view>& words, uint64_t maxBytes,
                         const ReadReply& readReply) {
    return withClientLibrary(hiredis, [&](const HiredisEntryPoints& api) {
        StorageAnswer answer;
        RedisSession session(api, deadlines);
        answer.outcome = openSession(session, address, answer.error);
        if (answer.outcome == StorageOutcome::hit) {
            answer.outcome = session.command(words, maxBytes, answer.error);
        }
        if (answer.outcome == StorageOutcome::hit) {
            readReply(*session.lastReply(), answer);
        }
        return answer;
    });
}

}  // namespace

StorageAnswer fetchFromRedis(const StorageAddress& address, const RequestDeadlines& deadlines,
                             const std::string& key, uint64_t maxBytes) {
    const std::string name = kKeyPrefix + key;
    return oneCommand(address, deadlines, {"GET", name}, maxBytes,
                      [](const redisReply& reply, StorageAnswer& answer) {
                          switch (reply.type) {
                              case REDIS_REPLY_STRING:
                                  answer.bytes.assign(reply.str, reply.len);
                                  break;
                              case REDIS_REPLY_NIL:
                                  answer.outcome = StorageOutcome::miss;
                                  break;
                              case REDIS_REPLY_ERROR:
                                  answer.outcome = errorOutcome(reply, answer.error);
                                  break;
                              default:
                                  answer.outcome = StorageOutcome::failed;
                                  answer.error =
                                      "the server answered GET with something other than a string";
                                  break;
                          }
                      });
}

StorageAnswer storeInRedis(const StorageAddress& address, const RequestDeadlines& deadlines,
                           const std::string& key, std::string_view bytes) {
    const std::string name = kKeyPrefix + key;
    return oneCommand(address, deadlines, {"SET", name, bytes}, 4096,
                      [](const redisReply& reply, StorageAnswer& answer) {
                          if (reply.type == REDIS_REPLY_ERROR) {
                              answer.outcome = errorOutcome(reply, answer.error);
                          } else if (reply.type == REDIS_REPLY_STATUS) {
                              answer.outcome = StorageOutcome::stored;
                          } else {
                              answer.outcome = StorageOutcome::failed;
                              answer.error =
                                  "the server answered SET with something other than a status";
                          }
                      });
}

}  // namespace mendrix::remote
