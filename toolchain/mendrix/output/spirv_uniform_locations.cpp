#include "toolchain/mendrix/output/spirv_uniform_locations.h"

#include <cstring>
#include <unordered_map>
#include <unordered_set>

namespace mendrix {

namespace {

constexpr size_t kHeaderWords = 5;
constexpr uint32_t kOpName = 5;
constexpr uint32_t kOpVariable = 59;
constexpr uint32_t kOpDecorate = 71;
constexpr uint32_t kDecorationLocation = 30;
constexpr uint32_t kStorageUniformConstant = 0;

// Calls visit(opcode, first word, word count) for each instruction that lies
// wholly inside the module.
template <typename Visit>
void forEachInstruction(std::vector<uint32_t>& words, Visit visit) {
    for (size_t at = kHeaderWords; at < words.size();) {
        uint32_t count = words[at] >> 16;
        if (count == 0 || count > words.size() - at) {
            return;
        }
        visit(words[at] & 0xffff, &words[at], count);
        at += count;
    }
}

// The names (OpName) of all ids and the ids of the UniformConstant
// variables.
struct UniformIds {
    std::unordered_map<uint32_t, std::string> names;
    std::unordered_set<uint32_t> uniforms;
};

UniformIds uniformIds(std::vector<uint32_t>& words) {
    UniformIds ids;
    forEachInstruction(words, [&ids](uint32_t opcode, uint32_t* op, uint32_t count) {
        if (opcode == kOpName && count > 2) {
            const char* text = reinterpret_cast<const char*>(op + 2);
            ids.names[op[1]] = std::string(text, strnlen(text, (count - 2) * 4));
        } else if (opcode == kOpVariable && count > 3 && op[3] == kStorageUniformConstant) {
            ids.uniforms.insert(op[2]);
        }
    });
    return ids;
}

}  // namespace

std::unordered_set<std::string> uniformVariableNames(std::vector<uint32_t> words) {
    UniformIds ids = uniformIds(words);
    std::unordered_set<std::string> names;
    for (uint32_t id : ids.uniforms) {
        auto name = ids.names.find(id);
        if (name != ids.names.end()) {
            names.insert(name->second);
        }
    }
    return names;
}

void relocateUniforms(std::vector<uint32_t>& words,
                      const std::map<std::string, int32_t>& locations) {
    UniformIds ids = uniformIds(words);
    auto& names = ids.names;
    auto& uniforms = ids.uniforms;
    forEachInstruction(words, [&](uint32_t opcode, uint32_t* op, uint32_t count) {
        if (opcode != kOpDecorate || count < 4 || op[2] != kDecorationLocation ||
            uniforms.count(op[1]) == 0) {
            return;
        }
        auto name = names.find(op[1]);
        auto location = name != names.end() ? locations.find(name->second) : locations.end();
        if (location != locations.end() && location->second >= 0) {
            op[3] = static_cast<uint32_t>(location->second);
        }
    });
}

}  // namespace mendrix
