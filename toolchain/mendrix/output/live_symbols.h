// Which global symbols a stage's code uses: those named in main, in the
// functions main calls (directly or not) and in global initialisers.
#pragma once

#include <string>
#include <unordered_set>

namespace glslang {
class TIntermediate;
}  // namespace glslang

namespace mendrix {

std::unordered_set<std::string> liveSymbolNames(const glslang::TIntermediate& stage);

}  // namespace mendrix
