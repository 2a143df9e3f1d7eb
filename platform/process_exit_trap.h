// Fuzz builds only: an exitProcess that hands control back to the caller
// instead of ending the process, so that the command-line parser's usage,
// version and error paths can run many times in one process. Linked in place
// of process_exit.cpp (target vrx_exit_trap); the production build never
// contains it.
#pragma once

// Runs `body(context)`. True when it returned on its own; false when it
// called exitProcess, whose code is then stored in `exitCode`. Standard
// output and error are flushed as on a real exit; nothing the body made is
// released, and the frames between the call and the trap are abandoned, so
// they must hold nothing that needs destroying. Traps nest; exitProcess
// outside any trap ends the process as usual.
bool runTrappingExit(void (*body)(void*), void* context, int& exitCode);
