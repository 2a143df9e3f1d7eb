// HTTPS storages through libcurl, loaded on the first request to one (plain
// http:// has a client of its own, see http_client.cpp). Redirects are never
// followed, only https is spoken, and the request's deadlines bound name
// resolution, connecting and the whole transfer.
#include <curl/curl.h>

#include <algorithm>
#include <cstddef>
#include <memory>

#include "platform/tcp_connection.h"
#include "toolchain/mendrix/remote/client_library.h"
#include "toolchain/mendrix/remote/http_status.h"
#include "toolchain/mendrix/remote/storage_client.h"

namespace mendrix::remote {

namespace {

constexpr const char* kCurlLibrary = "libcurl.so.4";
constexpr const char* kObjectSuffix = ".vrxc";

struct CurlEntryPoints {
    CURLcode (*globalInit)(long);
    CURL* (*easyInit)();
    CURLcode (*setOption)(CURL*, CURLoption, ...);
    CURLcode (*perform)(CURL*);
    CURLcode (*getInfo)(CURL*, CURLINFO, ...);
    void (*cleanup)(CURL*);
    curl_slist* (*listAppend)(curl_slist*, const char*);
    void (*listFree)(curl_slist*);
    const char* (*errorText)(CURLcode);
};

bool loadCurl(CurlEntryPoints& entryPoints, std::string& error) {
    static const EntryPointName kNames[] = {
        {"curl_global_init", offsetof(CurlEntryPoints, globalInit)},
        {"curl_easy_init", offsetof(CurlEntryPoints, easyInit)},
        {"curl_easy_setopt", offsetof(CurlEntryPoints, setOption)},
        {"curl_easy_perform", offsetof(CurlEntryPoints, perform)},
        {"curl_easy_getinfo", offsetof(CurlEntryPoints, getInfo)},
        {"curl_easy_cleanup", offsetof(CurlEntryPoints, cleanup)},
        {"curl_slist_append", offsetof(CurlEntryPoints, listAppend)},
        {"curl_slist_free_all", offsetof(CurlEntryPoints, listFree)},
        {"curl_easy_strerror", offsetof(CurlEntryPoints, errorText)},
    };
    if (!bindClientLibrary(kCurlLibrary, kNames, std::size(kNames), &entryPoints, error)) {
        return false;
    }
    if (entryPoints.globalInit(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
        error = std::string(kCurlLibrary) + " could not be initialised";
        return false;
    }
    return true;
}

const CurlEntryPoints* curl(std::string& error) {
    static CurlEntryPoints entryPoints{};
    static std::string loadError;
    static const bool loaded = loadCurl(entryPoints, loadError);
    if (!loaded) {
        error = loadError + " (install libcurl4)";
    }
    return loaded ? &entryPoints : nullptr;
}

// What a GET collects: stops the transfer once the answer passes the bound.
struct Download {
    std::string bytes;
    uint64_t maxBytes = 0;
    bool tooLarge = false;
};

size_t collect(char* data, size_t size, size_t count, void* context) {
    auto* download = static_cast<Download*>(context);
    const size_t length = size * count;
    if (download->bytes.size() + length > download->maxBytes) {
        download->tooLarge = true;
        return 0;  // ends the transfer with an error
    }
    download->bytes.append(data, length);
    return length;
}

struct Upload {
    std::string_view rest;
};

size_t supply(char* buffer, size_t size, size_t count, void* context) {
    auto* upload = static_cast<Upload*>(context);
    const size_t length = std::min(size * count, upload->rest.size());
    std::copy_n(upload->rest.data(), length, buffer);
    upload->rest.remove_prefix(length);
    return length;
}

struct Transfer {
    const CurlEntryPoints& api;
    CURL* handle = nullptr;
    curl_slist* headers = nullptr;
    char errorBuffer[CURL_ERROR_SIZE] = {};

    explicit Transfer(const CurlEntryPoints& api) : api(api), handle(api.easyInit()) {}
    ~Transfer() {
        if (handle != nullptr) {
            api.cleanup(handle);
        }
        if (headers != nullptr) {
            api.listFree(headers);
        }
    }
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;
};

long millisecondsUntil(int64_t deadline) {
    return static_cast<long>(std::max<int64_t>(1, deadline - tcp::nowMilliseconds()));
}

// The options every request takes.
void prepare(Transfer& transfer, const StorageAddress& address, const RequestDeadlines& deadlines,
             const std::string& url) {
    const CurlEntryPoints& api = transfer.api;
    CURL* handle = transfer.handle;
    api.setOption(handle, CURLOPT_URL, url.c_str());
    api.setOption(handle, CURLOPT_PROTOCOLS_STR, "https");
    api.setOption(handle, CURLOPT_FOLLOWLOCATION, 0L);
    api.setOption(handle, CURLOPT_NOSIGNAL, 1L);
    api.setOption(handle, CURLOPT_ERRORBUFFER, transfer.errorBuffer);
    api.setOption(handle, CURLOPT_CONNECTTIMEOUT_MS,
                  millisecondsUntil(std::min(deadlines.connectBy, deadlines.answerBy)));
    api.setOption(handle, CURLOPT_TIMEOUT_MS, millisecondsUntil(deadlines.answerBy));
    api.setOption(handle, CURLOPT_USERAGENT, "vrxcompile");
    if (!address.user.empty() || address.hasPassword) {
        api.setOption(handle, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
        api.setOption(handle, CURLOPT_USERNAME, address.user.c_str());
        api.setOption(handle, CURLOPT_PASSWORD, address.password.c_str());
    }
}

// Runs the transfer; false with `answer` filled when it did not get through.
bool perform(Transfer& transfer, StorageAnswer& answer, long& status) {
    const CURLcode code = transfer.api.perform(transfer.handle);
    if (code != CURLE_OK) {
        answer.outcome = StorageOutcome::failed;
        answer.error =
            transfer.errorBuffer[0] != '\0' ? transfer.errorBuffer : transfer.api.errorText(code);
        return false;
    }
    transfer.api.getInfo(transfer.handle, CURLINFO_RESPONSE_CODE, &status);
    return true;
}

// Runs `request` on a transfer of the entry `key` that has the options
// every request takes.
template <typename Request>
StorageAnswer withTransfer(const StorageAddress& address, const RequestDeadlines& deadlines,
                           const std::string& key, const Request& request) {
    return withClientLibrary(curl, [&](const CurlEntryPoints& api) {
        StorageAnswer answer;
        Transfer transfer(api);
        if (transfer.handle == nullptr) {
            answer.error = "out of memory";
            return answer;
        }
        prepare(transfer, address, deadlines, address.url + key + kObjectSuffix);
        request(transfer, answer);
        return answer;
    });
}

}  // namespace

StorageAnswer fetchOverHttps(const StorageAddress& address, const RequestDeadlines& deadlines,
                             const std::string& key, uint64_t maxBytes) {
    return withTransfer(address, deadlines, key, [&](Transfer& transfer, StorageAnswer& answer) {
        const CurlEntryPoints& api = transfer.api;
        Download download;
        download.maxBytes = maxBytes;
        api.setOption(transfer.handle, CURLOPT_WRITEFUNCTION, collect);
        api.setOption(transfer.handle, CURLOPT_WRITEDATA, &download);
        api.setOption(transfer.handle, CURLOPT_MAXFILESIZE_LARGE,
                      static_cast<curl_off_t>(maxBytes));
        long status = 0;
        if (!perform(transfer, answer, status)) {
            if (download.tooLarge || answer.error.find("aximum file size") != std::string::npos) {
                answer.outcome = StorageOutcome::refused;
                answer.error = answerTooLarge(maxBytes);
            }
            return;
        }
        answer.outcome = fetchOutcome(status, answer.error);
        if (answer.outcome == StorageOutcome::hit) {
            answer.bytes = std::move(download.bytes);
        }
    });
}

StorageAnswer storeOverHttps(const StorageAddress& address, const RequestDeadlines& deadlines,
                             const std::string& key, std::string_view bytes) {
    return withTransfer(address, deadlines, key, [&](Transfer& transfer, StorageAnswer& answer) {
        const CurlEntryPoints& api = transfer.api;
        Upload upload{bytes};
        Download reply;
        reply.maxBytes = 64 * 1024;  // the server's short answer, not kept
        // No "Expect: 100-continue" pause before the body.
        transfer.headers = api.listAppend(nullptr, "Expect:");
        transfer.headers =
            api.listAppend(transfer.headers, "Content-Type: application/octet-stream");
        api.setOption(transfer.handle, CURLOPT_HTTPHEADER, transfer.headers);
        api.setOption(transfer.handle, CURLOPT_UPLOAD, 1L);
        api.setOption(transfer.handle, CURLOPT_READFUNCTION, supply);
        api.setOption(transfer.handle, CURLOPT_READDATA, &upload);
        api.setOption(transfer.handle, CURLOPT_INFILESIZE_LARGE,
                      static_cast<curl_off_t>(bytes.size()));
        api.setOption(transfer.handle, CURLOPT_WRITEFUNCTION, collect);
        api.setOption(transfer.handle, CURLOPT_WRITEDATA, &reply);
        long status = 0;
        if (perform(transfer, answer, status)) {
            answer.outcome = storeOutcome(status, answer.error);
        }
    });
}

}  // namespace mendrix::remote
