#include "tests/support/driver_run.h"

#include <filesystem>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
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

#ifndef _WIN32
int runProcess(const fs::path& executable, const std::vector<std::string>& arguments,
               const fs::path& workingFolder, const fs::path& outFile, const fs::path& errFile,
               const std::vector<std::pair<std::string, std::optional<std::string>>>& environment) {
    pid_t child = fork();
    if (child == 0) {
        if (chdir(workingFolder.c_str()) != 0) {
            _exit(127);
        }
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

}  // namespace

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
        {"LD_LIBRARY_PATH", std::nullopt},
    };
    fullEnvironment.insert(fullEnvironment.end(), environment.begin(), environment.end());

    DriverResult result;
    result.exitCode =
        runProcess(driver, arguments, folder.path(), outFile, errFile, fullEnvironment);
    result.standardOutput = readFileBytes(outFile);
    result.standardError = readFileBytes(errFile);
    result.log = readFileBytes(logFile);
    fs::remove(outFile);
    fs::remove(errFile);
    fs::remove(logFile);
    return result;
}
