#include "toolchain/mendrix/quarn.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace mendrix {

namespace {

__extension__ typedef unsigned __int128 Uint128;

Uint128 makeUint128(uint64_t high, uint64_t low) {
    return (static_cast<Uint128>(high) << 64) | low;
}

Hash128 programHash(const std::vector<QuarnStage>& stages) {
    std::string all;
    for (const QuarnStage& stage : stages) {
        all.append(reinterpret_cast<const char*>(stage.hash.data()), stage.hash.size());
    }
    return hash128(all);
}

}  // namespace

Hash128 hash128(std::string_view bytes) {
    const Uint128 prime = makeUint128(0x0000000001000000ull, 0x000000000000013Bull);
    Uint128 state = makeUint128(0x6c62272e07bb0142ull, 0x62b821756295c58dull);
    for (char c : bytes) {
        state ^= static_cast<uint8_t>(c);
        state *= prime;
    }
    Hash128 digest{};
    for (int i = 15; i >= 0; --i) {
        digest[i] = static_cast<uint8_t>(state & 0xff);
        state >>= 8;
    }
    return digest;
}

std::string hexOf(const Hash128& hash) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(32);
    for (uint8_t byte : hash) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0xf];
    }
    return text;
}

std::string defaultQuarnDirectory() {
#ifdef _WIN32
    const char* base = std::getenv("LOCALAPPDATA");
    std::string root = base != nullptr ? base : ".";
    return root + "\\Temp\\Korvane\\Lumo\\ShaderSymbols";
#else
    const char* base = std::getenv("TMPDIR");
    std::string root = base != nullptr && base[0] != '\0' ? base : "/tmp";
    return root + "/Korvane/Lumo/ShaderSymbols";
#endif
}

std::string quarnFileName(const std::vector<QuarnStage>& stages) {
    return hexOf(programHash(stages)) + ".quarn";
}

std::string quarnFileText(const std::vector<QuarnStage>& stages) {
    std::string text = "QUARN 1\n";
    text += "program " + hexOf(programHash(stages)) + "\n";
    text += "stages " + std::to_string(stages.size()) + "\n";
    for (const QuarnStage& stage : stages) {
        text += "stage ";
        text += stage.stageName;
        text += ' ';
        text += hexOf(stage.hash);
        text += ' ';
        text += stage.binaryFormat;
        text += ' ';
        text += std::to_string(stage.binarySize);
        text += "\npath ";
        text += stage.path.empty() ? std::string_view("-") : stage.path;
        text += "\nsource " + std::to_string(stage.source.size()) + "\n";
        text += stage.source;
        text += '\n';
    }
    text += "end\n";
    return text;
}

bool writeQuarnFile(const std::string& directory, const std::vector<QuarnStage>& stages,
                    std::string& writtenPath, std::string& problem) {
    std::error_code error;
    std::filesystem::path folder(directory);
    std::filesystem::create_directories(folder, error);
    if (error) {
        problem = "cannot create folder " + directory + ": " + error.message();
        return false;
    }
    writtenPath = (folder / quarnFileName(stages)).string();
    std::string text = quarnFileText(stages);
    std::FILE* file = std::fopen(writtenPath.c_str(), "wb");
    if (file == nullptr) {
        problem = "cannot open " + writtenPath + ": " + std::strerror(errno);
        return false;
    }
    bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        problem = "cannot write " + writtenPath;
        std::remove(writtenPath.c_str());
        return false;
    }
    return true;
}

}  // namespace mendrix
