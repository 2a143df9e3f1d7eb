// The user's own folder for cache files, which the compile cache and the
// debug information files both live under.
#pragma once

#include <string>

namespace toolchain {

// Puts `name` under `folder`; each caller keeps its own separator rule.
using JoinPath = std::string (*)(const std::string& folder, const std::string& name);

// %LOCALAPPDATA% on Windows; elsewhere $XDG_CACHE_HOME, else ".cache" joined
// under $HOME. Empty when the environment names none of them (a variable
// set to the empty text counts as unset).
std::string userCacheFolder(JoinPath join);

}  // namespace toolchain
