#include "tests/support/driver_run.h"

#include <cstring>
#include <filesystem>

#ifdef _WIN32
#include <windows.h>

#include <cctype>
#else
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

#ifdef _WIN32
constexpr const char* kCompilerFile = "mendrix.dll";
constexpr const char* kWriterFile = "tmb.dll";
#else
constexpr const char* kCompilerFile = "libmendrix.so";
constexpr const char* kWriterFile = "libtmb.so";
#endif

void copyVariant(const std::string& variant, const char* fileName, const fs::path& binFolder) {
    if (variant.empty()) {
        return;
    }
    fs::copy_file(fs::path(VRX_DOUBLES_DIR) / variant / fileName, binFolder / fileName,
                  fs::copy_options::overwrite_existing);
}

#ifdef _WIN32
// One argument as the C runtime's command-line parser reads it back: quoted
// when it is empty or holds blanks or quotes; inside the quotes a run of
// backslashes is doubled when a quote (embedded or the closing one) follows
// it, and left alone otherwise.
std::string quoteArgument(const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string::npos) {
        return argument;
    }
    std::string result = "\"";
    size_t backslashes = 0;
    for (char character : argument) {
        if (character == '\\') {
            ++backslashes;
            continue;
        }
        if (character == '"') {
            result.append(backslashes * 2 + 1, '\\');
        } else {
            result.append(backslashes, '\\');
        }
        backslashes = 0;
        result += character;
    }
    result.append(backslashes * 2, '\\');
    return result + "\"";
}

bool sameVariableName(const std::string& entry, const std::string& name) {
    if (entry.size() <= name.size() || entry[name.size()] != '=') {
        return false;
    }
    for (size_t index = 0; index < name.size(); ++index) {
        if (std::toupper(static_cast<unsigned char>(entry[index])) !=
            std::toupper(static_cast<unsigned char>(name[index]))) {
            return false;
        }
    }
    return true;
}

// The current environment with the changes applied, as the NUL-separated
// block CreateProcess takes. Names compare without regard to case.
std::string environmentBlock(
    const std::vector<std::pair<std::string, std::optional<std::string>>>& changes) {
    std::vector<std::string> entries;
    if (char* current = GetEnvironmentStringsA()) {
        for (const char* entry = current; *entry != '\0'; entry += std::strlen(entry) + 1) {
            entries.emplace_back(entry);
        }
        FreeEnvironmentStringsA(current);
    }
    for (const auto& [name, value] : changes) {
        std::erase_if(entries,
                      [&](const std::string& entry) { return sameVariableName(entry, name); });
        if (value) {
            entries.push_back(name + "=" + *value);
        }
    }
    std::string block;
    for (const std::string& entry : entries) {
        block += entry;
        block += '\0';
    }
    return block + '\0';
}

HANDLE openInheritable(const fs::path& file, DWORD access, DWORD disposition) {
    SECURITY_ATTRIBUTES attributes = {};
    attributes.nLength = sizeof attributes;
    attributes.bInheritHandle = TRUE;
    return CreateFileW(file.wstring().c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       &attributes, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

int runProcess(const fs::path& executable, const std::vector<std::string>& arguments,
               const fs::path& workingFolder, const fs::path& inFile, const fs::path& outFile,
               const fs::path& errFile,
               const std::vector<std::pair<std::string, std::optional<std::string>>>& environment,
               const DriverRunner& limits) {
    std::string program = executable.string();
    std::string commandLine = quoteArgument(program);
    for (const std::string& argument : arguments) {
        commandLine += ' ';
        commandLine += quoteArgument(argument);
    }
    std::string block = environmentBlock(environment);

    HANDLE input = openInheritable(inFile.empty() ? "NUL" : inFile, GENERIC_READ, OPEN_EXISTING);
    HANDLE output = openInheritable(outFile, GENERIC_WRITE, CREATE_ALWAYS);
    HANDLE error = openInheritable(errFile, GENERIC_WRITE, CREATE_ALWAYS);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = output;
    startup.hStdError = error;
    PROCESS_INFORMATION process = {};
    BOOL started = CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0,
                                  block.data(), workingFolder.string().c_str(), &startup, &process);
    CloseHandle(input);
    CloseHandle(output);
    CloseHandle(error);
    if (!started) {
        return 127;
    }
    DWORD wait = limits.timeLimitSeconds != 0 ? limits.timeLimitSeconds * 1000 : INFINITE;
    if (WaitForSingleObject(process.hProcess, wait) == WAIT_TIMEOUT) {
        TerminateProcess(process.hProcess, 128 + 14);
        WaitForSingleObject(process.hProcess, INFINITE);
    }
    DWORD exitCode = 127;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(exitCode);
}
#else
int runProcess(const fs::path& executable, const std::vector<std::string>& arguments,
               const fs::path& workingFolder, const fs::path& inFile, const fs::path& outFile,
               const fs::path& errFile,
               const std::vector<std::pair<std::string, std::optional<std::string>>>& environment,
               const DriverRunner& limits) {
    pid_t child = fork();
    if (child == 0) {
        // Both limits outlive execv: the alarm's signal ends the driver.
        alarm(limits.timeLimitSeconds);
#ifndef __SANITIZE_ADDRESS__
        rlimit memory{limits.memoryLimitBytes, limits.memoryLimitBytes};
        if (limits.memoryLimitBytes != 0 && setrlimit(RLIMIT_AS, &memory) != 0) {
            _exit(127);
        }
#endif
        if (chdir(workingFolder.c_str()) != 0) {
            _exit(127);
        }
        int in = open(inFile.empty() ? "/dev/null" : inFile.c_str(), O_RDONLY);
        dup2(in, 0);
        close(in);
        int out = open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, 1);
        dup2(err, 2);
        close(out);
        close(err);
        for (const auto& [name, value] : environment) {
            if (value) {
                setenv(name.c_str(), value->c_str(), 1);
            } else {
                unsetenv(name.c_str());
            }
        }
        std::vector<char*> argv;
        std::string program = executable.string();
        argv.push_back(program.data());
        std::vector<std::string> copies = arguments;
        for (std::string& argument : copies) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
#endif

// What a text stream reads back from `bytes`.
std::string asText(const std::string& bytes) {
#ifdef _WIN32
    std::string text;
    for (size_t index = 0; index < bytes.size(); ++index) {
        if (!(bytes[index] == '\r' && index + 1 < bytes.size() && bytes[index + 1] == '\n')) {
            text += bytes[index];
        }
    }
    return text;
#else
    return bytes;
#endif
}

}  // namespace

std::string textLines(const std::string& text) {
#ifdef _WIN32
    std::string result;
    for (char character : text) {
        if (character == '\n') {
            result += '\r';
        }
        result += character;
    }
    return result;
#else
    return text;
#endif
}

std::string compilerLibraryFileName() {
    return kCompilerFile;
}

std::string writerLibraryFileName() {
    return kWriterFile;
}

std::string driverFileName() {
    return fs::path(VRX_DRIVER_PATH).filename().string();
}

DriverResult DriverRunner::run(const TempFolder& folder,
                               const std::vector<std::string>& arguments) const {
    fs::path binFolder = folder.path() / "bin";
    fs::create_directories(binFolder);
    fs::path driver = binFolder / driverFileName();
    fs::copy_file(VRX_DRIVER_PATH, driver, fs::copy_options::overwrite_existing);
    fs::remove(binFolder / kCompilerFile);
    fs::remove(binFolder / kWriterFile);
    copyVariant(compilerVariant, kCompilerFile, binFolder);
    copyVariant(writerVariant, kWriterFile, binFolder);

    fs::path logFile = folder.path() / "double.log";
    fs::path outFile = folder.path() / "stdout.txt";
    fs::path errFile = folder.path() / "stderr.txt";
    fs::remove(logFile);

    // A clean environment for the parts the driver and the doubles read.
    std::vector<std::pair<std::string, std::optional<std::string>>> fullEnvironment = {
        {"VRXDOUBLE_LOG", logFile.string()},
        {"VRXCOMPILE_OPTIMIZE", std::nullopt},
        {"VRXCOMPILE_DEPFILE", std::nullopt},
        {"LD_LIBRARY_PATH", std::nullopt},
        {"VRXCOMPILE_CACHE", "0"},
    };
    fullEnvironment.insert(fullEnvironment.end(), environment.begin(), environment.end());

    DriverResult result;
    fs::path started = startName.empty() ? driver : fs::path(startName);
    result.exitCode = runProcess(started, arguments, folder.path(), standardInputFile, outFile,
                                 errFile, fullEnvironment, *this);
    result.standardOutputBytes = readFileBytes(outFile);
    result.standardErrorBytes = readFileBytes(errFile);
    result.standardOutput = asText(result.standardOutputBytes);
    result.standardError = asText(result.standardErrorBytes);
    result.log = readFileBytes(logFile);
    fs::remove(outFile);
    fs::remove(errFile);
    fs::remove(logFile);
    return result;
}
