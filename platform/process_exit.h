// Ending the process with an exit code.
#pragma once

// Flushes standard output and standard error, then ends the process with
// `code`. Nothing else is released on the way.
[[noreturn]] void exitProcess(int code);
