#include "toolchain/mendrix/cache/cache_key.h"

#include <cstring>
#include <string_view>

#include "toolchain/mendrix/cache/cache_base_folder.h"
#include "toolchain/mendrix/cache/cache_entry.h"
#include "toolchain/mendrix/mendrix_build_identity.h"

#define XXH_INLINE_ALL
#include <xxhash.h>

namespace mendrix {

namespace {

// Feeds values with a tag and a length, so that no two different requests
// give the same byte stream (a missing text differs from an empty one).
class KeyHasher {
public:
    KeyHasher() { XXH3_128bits_reset(&state); }
    void number(uint64_t value) {
        uint8_t bytes[8];
        for (int i = 0; i < 8; ++i) {
            bytes[i] = static_cast<uint8_t>(value >> (8 * i));
        }
        XXH3_128bits_update(&state, bytes, sizeof bytes);
    }
    void bytes(std::string_view value) {
        number(value.size());
        XXH3_128bits_update(&state, value.data(), value.size());
    }
    void text(const char* value) {
        number(value != nullptr ? 1 : 0);
        if (value != nullptr) {
            bytes(value);
        }
    }
    CacheKey digest() {
        XXH128_canonical_t canonical;
        XXH128_canonicalFromHash(&canonical, XXH3_128bits_digest(&state));
        CacheKey key;
        std::memcpy(key.data(), canonical.digest, key.size());
        return key;
    }

private:
    XXH3_state_t state;
};

}  // namespace

const std::string& libraryBuildIdentity() {
    static const std::string identity = std::string(MENDRIX_BUILD_IDENTITY) + "; entry format " +
                                        std::to_string(kCacheEntryFormatVersion);
    return identity;
}

CacheKey compileCacheKey(const CompileRequest& request, uint32_t gpuVersion,
                         std::string_view lineMapBytes, const std::string& baseFolder) {
    KeyHasher hasher;
    hasher.bytes(libraryBuildIdentity());
    hasher.number(gpuVersion);
    for (const char* text : {request.vertexSource, request.pixelSource, request.geometrySource,
                             request.computeSource}) {
        hasher.text(text);
    }
    for (const char* path :
         {request.vertexPath, request.pixelPath, request.geometryPath, request.computePath}) {
        const std::string keyPath = path != nullptr ? keyPathOf(path, baseFolder) : std::string();
        hasher.text(path != nullptr ? keyPath.c_str() : nullptr);
    }
    hasher.number(request.compileFlags);
    hasher.number(request.esslLanguage);
    hasher.number(request.optimizationFlags);
    const ShaderStats* blocks[] = {request.vertexStats, request.pixelStats, request.geometryStats,
                                   request.computeStats};
    uint64_t givenBlocks = 0;
    for (size_t i = 0; i < 4; ++i) {
        givenBlocks |= blocks[i] != nullptr ? uint64_t{1} << i : 0;
    }
    hasher.number(givenBlocks);
    hasher.number(request.streamOutCount);
    hasher.number(request.streamOutVaryings != nullptr ? 1 : 0);
    if (request.streamOutVaryings != nullptr) {
        for (uint32_t i = 0; i < request.streamOutCount; ++i) {
            hasher.text(request.streamOutVaryings[i]);
        }
    }
    hasher.bytes(lineMapBytes);
    if (!baseFolder.empty()) {
        hasher.bytes("paths relative to the base folder");
    }
    return hasher.digest();
}

}  // namespace mendrix
