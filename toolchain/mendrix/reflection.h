// The reflection block of a stage record (layout in
// toolchain/common/stage_record.h) and how it is gathered from a linked
// program.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "toolchain/common/stage_record.h"

namespace glslang {
class TProgram;
class TIntermediate;
class TType;
}  // namespace glslang

namespace mendrix {

struct ReflectionEntry {
    uint8_t category = 0;  // toolchain::ReflectionCategory
    int32_t location = -1;
    uint32_t type = 0;
    uint32_t arraySize = 1;
    std::string name;

    bool operator==(const ReflectionEntry&) const = default;
};

std::vector<uint8_t> encodeReflection(const std::vector<ReflectionEntry>& entries);
// False when the block is cut short or malformed.
bool decodeReflection(const uint8_t* bytes, size_t size, std::vector<ReflectionEntry>& entries);

// The GL type enum of a non-opaque type (0x8B52 for vec4, ...), 0 for
// structures and types GL has no enum for.
uint32_t glTypeOf(const glslang::TType& type);

// A stage's declared user inputs and outputs (not built-ins), from the linked
// stage's linker objects. Block instances are listed as such, with their
// members as "Block.member".
struct StageInterface {
    std::vector<ReflectionEntry> inputs;
    std::vector<ReflectionEntry> outputs;
};
StageInterface collectStageInterface(const glslang::TIntermediate& stage);

// Live uniforms, samplers and uniform blocks that `stageMask` (a bit per
// front-end stage) uses, from the program's reflection (built before).
void collectUniforms(const glslang::TProgram& program, unsigned stageMask,
                     std::vector<ReflectionEntry>& out);
// Live vertex inputs of a program that starts with a vertex stage.
void collectAttributes(const glslang::TProgram& program, std::vector<ReflectionEntry>& out);

}  // namespace mendrix
