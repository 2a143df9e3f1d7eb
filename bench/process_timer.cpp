// Times whole processes side by side:
//     vrx_process_timer REPETITIONS BATCH @label command args... @label command args...
// Every repetition runs each command BATCH times in a row, the commands taking
// turns (the first to run rotates from one repetition to the next), and takes
// the wall-clock time per run. Standard input, output and error go to
// /dev/null. One warm-up run of each command comes first, with its standard
// error kept so that a failure can be seen. Prints one line per command:
//     label median_ms minimum_ms maximum_ms peak_rss_kib cpu_median_ms
// where cpu is the user and system time of the command's process, which
// other load on the machine disturbs less than the wall-clock time.
// A command that exits with a non-zero code ends the timing with exit code 1.
// In a command's arguments, "{run}" stands for the number of the command's
// run (0 for the warm-up, then 1, 2, ...): each run can work on input
// prepared for it, without a wrapper whose own cost would be timed.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern char** environ;

namespace {

struct Command {
    std::string label;
    std::vector<std::string> templates;  // "{run}" not yet replaced
    std::vector<std::string> texts;      // of the current run
    std::vector<char*> arguments;        // into texts, closed by a null
    int runs = 0;
    std::vector<double> perRunMilliseconds;
    std::vector<double> perRunCpuMilliseconds;
    double cpuMilliseconds = 0;  // of the runs since the last batch began
    long peakKibibytes = 0;
};

// The arguments of the command's next run.
void prepareRun(Command& command) {
    static const std::string kRunMark = "{run}";
    command.texts = command.templates;
    for (std::string& text : command.texts) {
        for (size_t at = text.find(kRunMark); at != std::string::npos;
             at = text.find(kRunMark, at)) {
            text.replace(at, kRunMark.size(), std::to_string(command.runs));
        }
    }
    command.arguments.clear();
    for (std::string& text : command.texts) {
        command.arguments.push_back(text.data());
    }
    command.arguments.push_back(nullptr);
    ++command.runs;
}

// Runs `command` once and waits for it. False when it cannot be started or
// does not exit with 0.
bool runOnce(Command& command, bool quiet) {
    prepareRun(command);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    if (quiet) {
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    }
    pid_t child = 0;
    int error = posix_spawnp(&child, command.arguments[0], &actions, nullptr,
                             command.arguments.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        std::fprintf(stderr, "%s: cannot start %s: %s\n", command.label.c_str(),
                     command.arguments[0], std::strerror(error));
        return false;
    }
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) != child) {
        return false;
    }
    command.peakKibibytes = std::max(command.peakKibibytes, usage.ru_maxrss);
    command.cpuMilliseconds += (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
                               (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "%s: %s ended with status %d\n", command.label.c_str(),
                     command.arguments[0], WIFEXITED(status) ? WEXITSTATUS(status) : -1);
        return false;
    }
    return true;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    size_t middle = values.size() / 2;
    return values.size() % 2 != 0 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr,
                     "usage: vrx_process_timer REPETITIONS BATCH @label command args... "
                     "[@label command args...]\n");
        return 2;
    }
    int repetitions = std::atoi(argv[1]);
    int batch = std::atoi(argv[2]);
    if (repetitions < 1 || batch < 1) {
        std::fprintf(stderr, "REPETITIONS and BATCH must be positive\n");
        return 2;
    }
    std::vector<Command> commands;
    for (int index = 3; index < argc; ++index) {
        if (argv[index][0] == '@') {
            commands.push_back(Command{});
            commands.back().label = argv[index] + 1;
        } else if (!commands.empty()) {
            commands.back().templates.push_back(argv[index]);
        } else {
            std::fprintf(stderr, "the first argument after BATCH must be an @label\n");
            return 2;
        }
    }
    for (Command& command : commands) {
        if (command.templates.empty()) {
            std::fprintf(stderr, "%s: no command\n", command.label.c_str());
            return 2;
        }
        if (!runOnce(command, false)) {
            return 1;
        }
    }

    using Clock = std::chrono::steady_clock;
    for (int repetition = 0; repetition < repetitions; ++repetition) {
        for (size_t turn = 0; turn < commands.size(); ++turn) {
            Command& command = commands[(repetition + turn) % commands.size()];
            command.cpuMilliseconds = 0;
            Clock::time_point start = Clock::now();
            for (int run = 0; run < batch; ++run) {
                if (!runOnce(command, true)) {
                    return 1;
                }
            }
            std::chrono::duration<double, std::milli> elapsed = Clock::now() - start;
            command.perRunMilliseconds.push_back(elapsed.count() / batch);
            command.perRunCpuMilliseconds.push_back(command.cpuMilliseconds / batch);
        }
    }
    for (const Command& command : commands) {
        const std::vector<double>& times = command.perRunMilliseconds;
        std::printf("%s %.4f %.4f %.4f %ld %.4f\n", command.label.c_str(), median(times),
                    *std::min_element(times.begin(), times.end()),
                    *std::max_element(times.begin(), times.end()), command.peakKibibytes,
                    median(command.perRunCpuMilliseconds));
    }
    return 0;
}
