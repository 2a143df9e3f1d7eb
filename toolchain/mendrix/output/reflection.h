// The reflection of a linked program, stage by stage, into the reflection
// blocks of its stage records (layout in toolchain/common/reflection_block.h).
#pragma once

#include <glslang/Public/ShaderLang.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "toolchain/common/reflection_block.h"

namespace glslang {
class TIntermediate;
class TType;
}  // namespace glslang

namespace mendrix {

using toolchain::ReflectionEntry;

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

// The explicit layout(location) of every loose uniform of the linked
// program, read before the front end maps locations of its own.
std::map<std::string, int32_t> declaredUniformLocations(const glslang::TProgram& program);

struct ProgramReflection {
    std::vector<std::vector<ReflectionEntry>> stages;  // parallel to the stages asked for
    std::map<std::string, int32_t> uniformLocations;   // first location of each loose uniform
};

// What each of `stages` (front-end stages of the linked `program`) declares
// and uses from main: attributes or varyings in, uniforms, samplers and
// images, uniform blocks, storage blocks, varyings out. Loose uniforms
// (samplers included) get one OpenGL uniform location program-wide: the
// declared one where there is one, else the lowest free range. Uniform
// arrays are listed element by element ("items[0]"); with
// `limitArraySymbols` only the first two and the last element.
ProgramReflection reflectProgram(const glslang::TProgram& program,
                                 const std::vector<EShLanguage>& stages,
                                 const std::map<std::string, int32_t>& declared,
                                 bool limitArraySymbols);

}  // namespace mendrix
