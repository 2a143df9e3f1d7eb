#include "platform/service_process.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "platform/tcp_connection.h"

namespace service_process {

namespace {

// Closes every descriptor from 3 on; only async-signal-safe calls, as it
// runs between fork and exec.
void closeInheritedDescriptors(long openLimit) {
#if defined(SYS_close_range)
    if (syscall(SYS_close_range, 3u, ~0u, 0u) == 0) {
        return;
    }
#endif
    for (long descriptor = 3; descriptor < openLimit; ++descriptor) {
        close(static_cast<int>(descriptor));
    }
}

// Whether the ':'-separated `list` holds an item named `name` ("name" or
// "name=...").
bool listNames(std::string_view list, std::string_view name) {
    while (!list.empty()) {
        const std::string_view item = list.substr(0, list.find(':'));
        if (item.substr(0, item.find('=')) == name) {
            return true;
        }
        list.remove_prefix(std::min(list.size(), item.size() + 1));
    }
    return false;
}

std::vector<char*> nullClosed(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& text : texts) {
        pointers.push_back(text.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

// The detached process, between its fork and exec.
[[noreturn]] void becomeService(const char* executable, char* const* argv, char* const* envp,
                                long openLimit) {
    if (chdir("/") != 0) {
        _exit(127);
    }
    const int null = open("/dev/null", O_RDWR);
    if (null < 0 || dup2(null, 0) < 0 || dup2(null, 1) < 0 || dup2(null, 2) < 0) {
        _exit(127);
    }
    closeInheritedDescriptors(openLimit);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    signal(SIGCHLD, SIG_DFL);
    signal(SIGPIPE, SIG_DFL);
    umask(077);
    execve(executable, argv, envp);
    _exit(127);
}

}  // namespace

std::vector<std::string> environmentWith(std::vector<std::string> environment,
                                         const std::vector<std::string>& listItems) {
    for (const std::string& item : listItems) {
        const size_t equals = item.find('=');
        const std::string prefix = item.substr(0, equals + 1);
        const std::string added = item.substr(prefix.size());
        auto held = std::find_if(environment.begin(), environment.end(),
                                 [&prefix](const std::string& entry) {
                                     return entry.compare(0, prefix.size(), prefix) == 0;
                                 });
        if (held == environment.end()) {
            environment.push_back(item);
        } else if (held->size() == prefix.size()) {
            *held += added;
        } else if (!listNames(std::string_view(*held).substr(prefix.size()),
                              std::string_view(added).substr(0, added.find('=')))) {
            *held += ":" + added;
        }
    }
    return environment;
}

std::string pathOfLoadedCode(const void* address) {
    Dl_info info{};
    if (dladdr(address, &info) == 0 || info.dli_fname == nullptr) {
        return std::string();
    }
    // A name relative to the working folder (a driver started by a relative
    // path) is made full: the service starts in "/".
    char* full = realpath(info.dli_fname, nullptr);
    if (full == nullptr) {
        return std::string();
    }
    std::string path = full;
    std::free(full);
    return path;
}

bool startDetached(const std::string& executable, const std::vector<std::string>& arguments,
                   const std::vector<std::string>& listItems, std::string& error) {
    // Everything the child needs is made before the fork: after it, a
    // process with threads may only make async-signal-safe calls.
    std::vector<std::string> texts;
    texts.push_back(executable);
    texts.insert(texts.end(), arguments.begin(), arguments.end());
    const std::vector<char*> argv = nullClosed(texts);
    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        environment.emplace_back(*entry);
    }
    environment = environmentWith(std::move(environment), listItems);
    const std::vector<char*> envp = nullClosed(environment);
    rlimit limit{};
    const long openLimit = getrlimit(RLIMIT_NOFILE, &limit) == 0 &&
                                   limit.rlim_cur != RLIM_INFINITY &&
                                   limit.rlim_cur < static_cast<rlim_t>(INT_MAX)
                               ? static_cast<long>(limit.rlim_cur)
                               : 65536;

    const pid_t first = fork();
    if (first < 0) {
        error = std::string("fork: ") + std::strerror(errno);
        return false;
    }
    if (first == 0) {
        // A new session, then a second fork: the service is no session
        // leader, so it can never take a controlling terminal again.
        if (setsid() < 0) {
            _exit(127);
        }
        const pid_t second = fork();
        if (second == 0) {
            becomeService(texts.front().c_str(), argv.data(), envp.data(), openLimit);
        }
        _exit(second < 0 ? 127 : 0);
    }
    int status = 0;
    while (waitpid(first, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        error = "the service could not be started";
        return false;
    }
    return true;
}

bool holdLockForLife(const std::string& path) {
    const int descriptor = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (descriptor < 0) {
        return false;
    }
    if (flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
        close(descriptor);
        return false;
    }
    // The holder's process id, for whoever wants to stop it.
    const std::string id = std::to_string(getpid()) + "\n";
    if (ftruncate(descriptor, 0) != 0 || pwrite(descriptor, id.data(), id.size(), 0) < 0) {
        // The lock holds without the id.
    }
    return true;  // the descriptor stays open: the lock goes with the process
}

void ignoreBrokenPipes() {
    signal(SIGPIPE, SIG_IGN);
}

unsigned processorCount() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        const int count = CPU_COUNT(&set);
        return count > 0 ? static_cast<unsigned>(count) : 1u;
    }
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<unsigned>(online) : 1u;
}

bool startChild(const std::function<int(std::string& notice)>& body, Child& child) {
    int notice[2];
    if (pipe2(notice, O_CLOEXEC) != 0) {
        return false;
    }
    const pid_t id = fork();
    if (id < 0) {
        close(notice[0]);
        close(notice[1]);
        return false;
    }
    if (id == 0) {
        close(notice[0]);
        std::string text;
        const int result = body(text);
        // One write of at most PIPE_BUF bytes arrives whole.
        if (!text.empty()) {
            [[maybe_unused]] const ssize_t written =
                write(notice[1], text.data(), std::min(text.size(), kChildNoticeBytes));
        }
        _exit(result);
    }
    close(notice[1]);
    child.processId = id;
    child.endNotice = notice[0];
    // The pipe hangs up as the child starts to end, before it can be reaped:
    // watching it would wake the loop over and over while the child's memory
    // is torn down. A process descriptor wakes it once, when it can be.
    child.exitHandle = static_cast<int>(syscall(SYS_pidfd_open, id, 0));
    child.startedMilliseconds = tcp::nowMilliseconds();
    return true;
}

void waitForWork(int listener, const std::vector<Child>& children, int timeoutMilliseconds) {
    std::vector<pollfd> entries;
    if (listener >= 0) {
        entries.push_back({listener, POLLIN, 0});
    }
    for (const Child& child : children) {
        entries.push_back({child.exitHandle >= 0 ? child.exitHandle : child.endNotice, POLLIN, 0});
    }
    poll(entries.data(), entries.size(), timeoutMilliseconds);
}

void reapEnded(std::vector<Child>& children, std::vector<std::string>& notices) {
    for (auto it = children.begin(); it != children.end();) {
        int status = 0;
        if (waitpid(it->processId, &status, WNOHANG) != it->processId) {
            ++it;
            continue;
        }
        // The child is gone, so its end of the pipe is closed: no read waits.
        char text[kChildNoticeBytes];
        const ssize_t count = read(it->endNotice, text, sizeof text);
        if (count > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0) {
            notices.emplace_back(text, static_cast<size_t>(count));
        }
        close(it->endNotice);
        if (it->exitHandle >= 0) {
            close(it->exitHandle);
        }
        it = children.erase(it);
    }
}

void limitRunTime(unsigned seconds) {
    signal(SIGALRM, SIG_DFL);
    alarm(seconds);
}

}  // namespace service_process
