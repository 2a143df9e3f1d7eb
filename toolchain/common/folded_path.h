// Path text with "." and ".." folded, as the line map names files and the
// compile cache compares them with its base folder.
#pragma once

#include <string>
#include <string_view>

namespace toolchain {

// `path` with "." and ".." segments and repeated separators folded ('/' is
// the separator; '\\' too on Windows). A ".." at the root stays at the root.
std::string foldPath(std::string_view path);

}  // namespace toolchain
