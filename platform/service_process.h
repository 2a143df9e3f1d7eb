// Processes of the compile service: starting it detached from whoever
// asked for it, the lock that keeps it alone, and the children it forks to
// serve single requests. POSIX only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace service_process {

// The full path, links resolved, of the file (library or executable) that
// holds the code at `address`; empty when it cannot be told.
std::string pathOfLoadedCode(const void* address);

// Starts `executable` with `arguments`, detached completely: a new session,
// working folder "/", standard input, output and error on the null device,
// every other descriptor closed, signal mask and SIGCHLD/SIGPIPE at their
// defaults (the executable sets its own). It gets this process's
// environment, with each "NAME=item" of `listItems` added to the list
// (items joined by ':') NAME holds, or making NAME when missing. Returns
// once the intermediate process has ended, so the caller has no child left
// behind.
bool startDetached(const std::string& executable, const std::vector<std::string>& arguments,
                   const std::vector<std::string>& listItems, std::string& error);

// `environment` ("NAME=value" entries) with each "NAME=item" of
// `listItems` appended to NAME's list, after a ':' when it holds items
// already; NAME is added when missing. An item the list names already
// ("key=..." with the same key) is left as the user set it.
std::vector<std::string> environmentWith(std::vector<std::string> environment,
                                         const std::vector<std::string>& listItems);

// Takes, without waiting, an exclusive lock on the file at `path` (made
// 0600 when missing, never through a link) and keeps it until the process
// ends; the file then holds this process's id. False when another process
// holds it or it cannot be taken.
bool holdLockForLife(const std::string& path);

// SIGPIPE ignored, so a client that goes away costs a failed write only.
void ignoreBrokenPipes();

// Processors this process may run on (at least 1).
unsigned processorCount();

// A forked child serving one request.
struct Child {
    int processId = -1;
    int endNotice = -1;  // read end of a pipe whose write end only the child holds
    // Readable once the child has ended and can be reaped (a process file
    // descriptor); -1 where the system has none, and the pipe is watched.
    int exitHandle = -1;
    int64_t startedMilliseconds = 0;
};

// Forks; the child runs `body` and ends with its result, never returning.
// What the body leaves in its argument (at most kChildNoticeBytes) reaches
// the parent through reapEnded. False when no child could be made.
constexpr size_t kChildNoticeBytes = 512;
bool startChild(const std::function<int(std::string& notice)>& body, Child& child);

// Waits at most `timeoutMilliseconds` until `listener` (when not -1) has a
// connection waiting or a child has ended.
void waitForWork(int listener, const std::vector<Child>& children, int timeoutMilliseconds);

// Collects the children that ended, drops them from `children` and adds
// the notices they left to `notices`.
void reapEnded(std::vector<Child>& children, std::vector<std::string>& notices);

// Ends the calling process with SIGALRM after `seconds`: a request that
// runs away (a loop in the front end) cannot keep a processor for good.
void limitRunTime(unsigned seconds);

}  // namespace service_process
