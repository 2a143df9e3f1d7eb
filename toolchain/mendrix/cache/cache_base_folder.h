// VRXCOMPILE_CACHE_BASEDIR: paths under the base folder enter the cache key
// relative to it, so two checkouts at different paths share entries. The
// log of such an entry names those files relative to the base folder too,
// and a hit joins them to this run's base folder, so its messages name the
// local files. With no base folder (an empty `base`) everything is kept
// whole, as before.
#pragma once

#include <string>
#include <string_view>

namespace mendrix {

// The base folder from `text`: folded, without a trailing separator (but
// the root). False for a path that is not absolute.
bool parseBaseFolder(const char* text, std::string& base);

// `path` as the key holds it: "+" and the part behind the base folder, or
// "-" and the whole path when it is not under it. Without a base folder
// the path itself.
std::string keyPathOf(std::string_view path, const std::string& base);

// The log as an entry keeps it: every line marked "+" with the base folder
// taken off its start, or "-" when it does not start under it.
std::string storedLogOf(std::string_view log, const std::string& base);

// The reverse, for this run's base folder. False when the stored log is not
// of that form.
bool localLogOf(std::string_view stored, const std::string& base, std::string& log);

}  // namespace mendrix
