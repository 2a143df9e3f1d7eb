// A fresh folder under the system's temporary folder, removed with its
// contents when the object goes out of scope, and byte-exact file helpers.
#pragma once

#include <filesystem>
#include <string>

class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return root; }
    // `relative` joined to the folder, as a string.
    std::string file(const std::string& relative) const;
    // Writes `bytes` exactly (binary mode) to `relative`, creating folders.
    std::string write(const std::string& relative, const std::string& bytes) const;

private:
    std::filesystem::path root;
};

// The whole file read in binary mode; an empty string when it does not exist.
std::string readFileBytes(const std::filesystem::path& path);
