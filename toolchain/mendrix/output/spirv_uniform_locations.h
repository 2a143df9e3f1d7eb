// Gives the loose uniforms (samplers included) of a SPIR-V stage the
// program-wide OpenGL uniform locations that the reflection lists. The front
// end maps uniform locations stage by stage, so two stages could otherwise
// give one location to different uniforms, or one uniform two locations.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <unordered_set>
#include <vector>

namespace mendrix {

// Rewrites the Location decoration of every UniformConstant variable whose
// OpName is in `locations`.
void relocateUniforms(std::vector<uint32_t>& words,
                      const std::map<std::string, int32_t>& locations);

// The names of the UniformConstant variables (loose uniforms, samplers)
// left in the module.
std::unordered_set<std::string> uniformVariableNames(std::vector<uint32_t> words);

}  // namespace mendrix
