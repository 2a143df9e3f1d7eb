#include "toolchain/mendrix/remote/remote_cache.h"

#include <algorithm>

#include "platform/tcp_connection.h"
#include "toolchain/mendrix/cache/cache_entry.h"
#include "toolchain/mendrix/remote/remote_settings.h"
#include "toolchain/mendrix/remote/storage_client.h"
#include "toolchain/mendrix/remote/storage_health.h"

namespace mendrix {

namespace {

using remote::StorageAddress;
using remote::StorageAnswer;
using remote::StorageKind;
using remote::StorageOutcome;

void say(const CacheSettings& settings, const StorageAddress& address, const std::string& what) {
    cacheDebugLine(settings, "remote", address.shown + ": " + what);
}

// Says what the storage answered and remembers a failed one as down. True
// when the answer is one to use (a hit or a store).
bool takeNote(const CacheSettings& settings, const safe_files::FolderHandle& folder,
              const StorageAddress& address, const StorageAnswer& answer) {
    switch (answer.outcome) {
        case StorageOutcome::hit:
        case StorageOutcome::stored:
            return true;
        case StorageOutcome::miss:
            say(settings, address, "miss");
            return false;
        case StorageOutcome::refused:
            say(settings, address, "error: " + answer.error);
            return false;
        case StorageOutcome::failed:
            markStorageDown(folder, address);
            say(settings, address,
                "error: " + answer.error + "; not asked again for " +
                    std::to_string(remote::kStorageDownSeconds) + " s");
            return false;
        case StorageOutcome::unavailable:
            cacheWarning("remote storage " + address.shown + " not used: " + answer.error);
            return false;
    }
    return false;
}

// False (with a debug line) for a storage that failed lately.
bool available(const CacheSettings& settings, const safe_files::FolderHandle& folder,
               const StorageAddress& address) {
    if (remote::storageMarkedDown(folder, address)) {
        say(settings, address, "skipped: it failed less than 60 s ago");
        return false;
    }
    return true;
}

}  // namespace

namespace remote {

RequestDeadlines deadlinesFromNow(const RemoteSettings& settings) {
    const int64_t now = tcp::nowMilliseconds();
    return {now + settings.connectMilliseconds, now + settings.requestMilliseconds};
}

std::string answerTooLarge(uint64_t maxBytes) {
    constexpr uint64_t kMebibyte = uint64_t{1} << 20;
    return "the answer is larger than " + (maxBytes % kMebibyte == 0
                                               ? std::to_string(maxBytes / kMebibyte) + " MiB"
                                               : std::to_string(maxBytes) + " bytes");
}

}  // namespace remote

bool remoteCacheNamed() {
    return remote::remoteStoragesNamed();
}

bool takeFromRemoteCaches(const CacheSettings& settings, const safe_files::FolderHandle& folder,
                          const std::string& keyHex,
                          const std::function<bool(std::string_view)>& accept) {
    const remote::RemoteSettings remoteSettings = remote::remoteSettingsFromEnvironment();
    for (const std::string& problem : remoteSettings.problems) {
        cacheWarning(problem);
    }
    for (const StorageAddress& address : remoteSettings.storages) {
        if (!available(settings, folder, address)) {
            continue;
        }
        const remote::RequestDeadlines deadlines = remote::deadlinesFromNow(remoteSettings);
        const StorageAnswer answer =
            address.kind == StorageKind::redis
                ? remote::fetchFromRedis(address, deadlines, keyHex, kCacheEntryMaxBytes)
                : remote::fetchOverHttp(address, deadlines, keyHex, kCacheEntryMaxBytes);
        if (!takeNote(settings, folder, address, answer)) {
            continue;
        }
        if (accept(answer.bytes)) {
            say(settings, address, "hit");
            return true;
        }
        say(settings, address, "ignored damaged entry");
    }
    return false;
}

void storeInRemoteCaches(const CacheSettings& settings, const safe_files::FolderHandle& folder,
                         const std::string& keyHex, std::string_view bytes) {
    const remote::RemoteSettings remoteSettings = remote::remoteSettingsFromEnvironment();
    for (const StorageAddress& address : remoteSettings.storages) {
        if (address.readOnly || !available(settings, folder, address)) {
            continue;
        }
        const remote::RequestDeadlines deadlines = remote::deadlinesFromNow(remoteSettings);
        const StorageAnswer answer = address.kind == StorageKind::redis
                                         ? remote::storeInRedis(address, deadlines, keyHex, bytes)
                                         : remote::storeOverHttp(address, deadlines, keyHex, bytes);
        if (takeNote(settings, folder, address, answer)) {
            say(settings, address, "stored");
        }
    }
}

}  // namespace mendrix
