#pragma once

// Helper programs of the real-window tests: started, waited for, stopped. Shared by the harness of
// each display system.

#include <sys/types.h>

#include <string>
#include <vector>

namespace harness {

struct RunResult {
  int ExitCode = -1;  // exit status, or -1 when the program could not run or was killed
  std::string Output;
};

// Runs a program found on PATH with these arguments and waits for it, collecting its standard
// output; its standard error goes to /dev/null.
RunResult Run(const std::vector<std::string>& argv);
bool OnPath(const std::string& program);

// Starts a program with stdout to `outFd` (or /dev/null when -1) and stderr to `errFd` (or
// /dev/null). A long-lived helper (a display server, a window manager) dies with this process,
// so that a test killed at its time limit leaves nothing behind. With `asUser` >= 0 (only as
// root) the program runs under that user and group id, with no supplementary groups.
pid_t Spawn(const std::vector<std::string>& argv, int outFd, bool diesWithUs = false,
            int errFd = -1, int asUser = -1);
// The exit status of a started program, or -1.
int Reap(pid_t pid);
// Ends a started program and waits for it; pid becomes -1.
void Stop(pid_t& pid);

}  // namespace harness
