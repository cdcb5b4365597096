#include "tests/harness/process.h"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string_view>

namespace harness {
namespace {

std::vector<char*> ArgvOf(const std::vector<std::string>& argv) {
  std::vector<char*> raw;
  for (const std::string& arg : argv) raw.push_back(const_cast<char*>(arg.c_str()));
  raw.push_back(nullptr);
  return raw;
}

// The environment of every helper, with a UTF-8 locale: in the POSIX locale, which a minimal
// machine runs in with LANG unset, xdotool and wtype cannot type a character outside ASCII.
// C.UTF-8 is on every Debian system.
std::vector<std::string> HelperEnvironment() {
  std::vector<std::string> env;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string_view text(*entry);
    if (!text.starts_with("LC_ALL=")) env.emplace_back(text);
  }
  env.emplace_back("LC_ALL=C.UTF-8");
  return env;
}

}  // namespace

pid_t Spawn(const std::vector<std::string>& argv, int outFd, bool diesWithUs, int errFd,
            int asUser) {
  std::vector<char*> raw = ArgvOf(argv);
  const std::vector<std::string> environment = HelperEnvironment();
  std::vector<char*> env = ArgvOf(environment);
  const pid_t pid = fork();
  if (pid != 0) return pid;
  // Only async-signal-safe calls from here to exec.
  if (asUser >= 0 && (setgroups(0, nullptr) != 0 || setgid(asUser) != 0 || setuid(asUser) != 0)) {
    _exit(126);
  }
  // After the change of user, which clears it.
  if (diesWithUs) prctl(PR_SET_PDEATHSIG, SIGTERM);
  const int null = open("/dev/null", O_WRONLY);
  dup2(outFd >= 0 ? outFd : null, STDOUT_FILENO);
  dup2(errFd >= 0 ? errFd : null, STDERR_FILENO);
  execvpe(raw[0], raw.data(), env.data());
  _exit(127);
}

int Reap(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void Stop(pid_t& pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  Reap(pid);
  pid = -1;
}

RunResult Run(const std::vector<std::string>& argv) {
  RunResult result;
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) return result;
  const pid_t pid = Spawn(argv, out[1]);
  close(out[1]);
  char buffer[512];
  for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) result.Output.append(buffer, n);
  close(out[0]);
  if (pid > 0) result.ExitCode = Reap(pid);
  return result;
}

bool OnPath(const std::string& program) {
  return Run({"sh", "-c", "command -v " + program}).ExitCode == 0;
}

}  // namespace harness
