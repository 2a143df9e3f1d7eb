#include <windows.h>

#include <string>

#include "platform/dynamic_library.h"
#include "platform/wide_text_windows.h"

const char* const kCompilerLibraryFileName = "mendrix.dll";
const char* const kWriterLibraryFileName = "tmb.dll";

namespace {

// Where the private library folder lies, relative to the executable's.
constexpr const wchar_t kInstalledLibraryFolder[] = L"..\\lib\\vrxcompile\\";

// The longest path the loader takes, in characters.
constexpr DWORD kLongestPath = 32768;

// The library names are plain ASCII.
std::wstring widened(const char* text) {
    return std::wstring(text, text + std::char_traits<char>::length(text));
}

// The executable's own folder with a trailing '\', or empty when it cannot
// be had.
std::wstring ownFolder() {
    std::wstring path(kLongestPath, L'\0');
    DWORD length = GetModuleFileNameW(nullptr, path.data(), kLongestPath);
    if (length == 0 || length >= kLongestPath) {
        return {};
    }
    path.resize(length);
    size_t separator = path.find_last_of(L"\\/");
    return separator == std::wstring::npos ? std::wstring() : path.substr(0, separator + 1);
}

bool fileExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Loads by full path; the library's own dependencies are then searched in
// its folder first, not in the current folder.
LibraryHandle loadByFullPath(const std::wstring& path) {
    return LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

// Takes the current folder out of the search for a bare name, so that a
// library planted among the user's files never loads. Any DLL folder does
// that; the system folder, which comes right after the application folder
// anyway, leaves the order of the rest (system folders, then PATH) as it
// was. An empty one does it on Windows, but not on every loader that runs
// Windows programs, which then search the current folder still.
void takeCurrentFolderOutOfSearch() {
    wchar_t systemFolder[MAX_PATH + 1];
    UINT length = GetSystemDirectoryW(systemFolder, MAX_PATH + 1);
    bool known = length != 0 && length <= MAX_PATH;
    SetDllDirectoryW(known ? systemFolder : L"");
}

}  // namespace

LibraryHandle loadApplicationLibrary(const char* fileName) {
    std::wstring name = widened(fileName);
    std::wstring folder = ownFolder();
    if (!folder.empty()) {
        if (fileExists(folder + name)) {
            return loadByFullPath(folder + name);
        }
        if (fileExists(folder + kInstalledLibraryFolder + name)) {
            return loadByFullPath(folder + kInstalledLibraryFolder + name);
        }
    }
    return loadDynamicLibrary(fileName);
}

LibraryHandle loadDynamicLibrary(const char* path) {
    std::wstring widePath;
    if (!widenAnsiText(path, widePath)) {
        return nullptr;
    }
    takeCurrentFolderOutOfSearch();
    return LoadLibraryW(widePath.c_str());
}

void* findLibrarySymbol(LibraryHandle library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void freeDynamicLibrary(LibraryHandle library) {
    FreeLibrary(static_cast<HMODULE>(library));
}
