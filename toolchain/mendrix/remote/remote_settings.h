// The compile cache's remote storages, from the environment (read on every
// compile, like the local cache's settings):
//   VRXCOMPILE_REMOTE_CACHE   storages separated by spaces, tried in order:
//                               redis://[[user]:password@]host[:port][/db]
//                               http://[user:password@]host[:port][/path]  (https too)
//                             each may end in "|read-only": read, never written
//   VRXCOMPILE_REMOTE_CACHE_CONNECT_TIMEOUT   milliseconds to connect, name
//                             resolution included; default 100
//   VRXCOMPILE_REMOTE_CACHE_TIMEOUT   milliseconds a whole request may take,
//                             connecting included; default 1000
//   VRXCOMPILE_REMOTE_CACHE_PASSWORD_FILE   the password of every storage
//                             whose URL names none, from a file only the user
//                             may read
// Messages name a storage by its URL without user and password.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace mendrix::remote {

constexpr int64_t kDefaultConnectMilliseconds = 100;
constexpr int64_t kDefaultRequestMilliseconds = 1000;
constexpr int64_t kLongestDeadlineMilliseconds = 60000;

enum class StorageKind { redis, http };

struct StorageAddress {
    StorageKind kind = StorageKind::redis;
    std::string shown;  // scheme, host, port and path: safe for any message
    std::string host;   // as written, without the brackets of an IPv6 address
    uint16_t port = 0;
    uint32_t database = 0;  // redis
    std::string url;        // http: the URL without user and password, ending in '/'
    std::string user;
    std::string password;
    bool hasPassword = false;
    bool readOnly = false;
};

struct RemoteSettings {
    std::vector<StorageAddress> storages;
    int64_t connectMilliseconds = kDefaultConnectMilliseconds;
    int64_t requestMilliseconds = kDefaultRequestMilliseconds;
    // Warnings: storages that cannot be used, values that were ignored. None
    // of them holds a password.
    std::vector<std::string> problems;
};

// True when VRXCOMPILE_REMOTE_CACHE names anything; checked before anything
// else of the remote storages is touched.
bool remoteStoragesNamed();

RemoteSettings remoteSettingsFromEnvironment();

// One storage of VRXCOMPILE_REMOTE_CACHE. False with `problem` (which never
// repeats the text, since it may hold a password) when it is not one.
bool parseStorageAddress(std::string_view text, StorageAddress& address, std::string& problem);

}  // namespace mendrix::remote
