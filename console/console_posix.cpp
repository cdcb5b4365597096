#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <string_view>

#include "console/terminal.h"
#include "runtime/run_error.h"

// The terminal on POSIX systems: termios raw mode, with the terminal put back on every way out,
// signals included; bytes read and written with read(2) and write(2).

namespace console {
namespace {

// Signals that end or stop the program while the terminal is in raw mode; their handlers put the
// terminal back first. A hang-up does not end it: it ends the name (see ForgetTerminal).
constexpr std::array<int, 5> kGuardedSignals = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP};

struct ConsoleContext {
  termios Saved{};  // the terminal's mode before the editor changed it
  termios Raw{};
  volatile std::sig_atomic_t RawActive = 0;
  volatile std::sig_atomic_t HungUp = 0;               // the terminal is gone
  std::array<bool, kGuardedSignals.size()> Guarded{};  // we replaced the default action
};

ConsoleContext terminal;

void RestoreTerminal() {
  if (terminal.RawActive) tcsetattr(STDIN_FILENO, TCSANOW, &terminal.Saved);
}

// Async-signal-safe: restore the terminal, then let the signal do what it would have done. Its
// handler was reset to the default action on entry (SA_RESETHAND), so raising it again ends the
// program.
void OnFatalSignal(int signal) {
  RestoreTerminal();
  raise(signal);
}

// The terminal hung up at the name prompt: that is the end of the input, as a closed input is,
// and the run records the name typed so far and ends as after Enter. Reads end at once from here
// on (standard input becomes /dev/null, which also ends a read about to start), and what would
// have been written to the terminal goes nowhere rather than failing. Async-signal-safe.
void ForgetTerminal() {
  RestoreTerminal();
  terminal.HungUp = 1;
  struct stat input;
  const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
  if (null < 0) return;
  if (fstat(STDIN_FILENO, &input) == 0) {
    for (const int fd : {STDOUT_FILENO, STDERR_FILENO}) {
      struct stat out;
      if (fstat(fd, &out) == 0 && S_ISCHR(out.st_mode) && out.st_rdev == input.st_rdev) {
        dup2(null, fd);
      }
    }
  }
  dup2(null, STDIN_FILENO);
  close(null);
}

void OnHangUp(int) {
  const int savedErrno = errno;
  if (!terminal.HungUp) ForgetTerminal();
  errno = savedErrno;
}

// Ctrl+Z: leave the terminal usable while stopped and take it back when continued. Stopping with
// SIGSTOP rather than a re-raised SIGTSTP takes effect at once, even where signals raised inside
// a handler are held back until it returns.
void OnStopSignal(int) {
  const int savedErrno = errno;
  RestoreTerminal();
  kill(getpid(), SIGSTOP);
  if (terminal.RawActive) tcsetattr(STDIN_FILENO, TCSANOW, &terminal.Raw);
  errno = savedErrno;
}

void InstallGuard(int signal) {
  struct sigaction action {};
  sigemptyset(&action.sa_mask);
  if (signal == SIGTSTP) {
    action.sa_handler = OnStopSignal;
  } else if (signal == SIGHUP) {
    action.sa_handler = OnHangUp;  // no SA_RESTART: the read waiting for a key returns
  } else {
    action.sa_handler = OnFatalSignal;
    action.sa_flags = SA_RESETHAND | SA_NODEFER;
  }
  sigaction(signal, &action, nullptr);
}

// Only signals still at their default action are taken over: an ignored hang-up stays ignored.
void GuardSignals() {
  for (std::size_t i = 0; i < kGuardedSignals.size(); ++i) {
    struct sigaction current {};
    sigaction(kGuardedSignals[i], nullptr, &current);
    terminal.Guarded[i] = current.sa_handler == SIG_DFL && !(current.sa_flags & SA_SIGINFO);
    if (terminal.Guarded[i]) InstallGuard(kGuardedSignals[i]);
  }
}

// After a hang-up the run ends as after Enter: a second one (a shell passing it on to its jobs)
// must not end it before its result is recorded.
void UnguardSignals() {
  for (std::size_t i = 0; i < kGuardedSignals.size(); ++i) {
    const int signal = kGuardedSignals[i];
    if (terminal.Guarded[i])
      std::signal(signal, signal == SIGHUP && terminal.HungUp ? SIG_IGN : SIG_DFL);
    terminal.Guarded[i] = false;
  }
}

[[noreturn]] void ConsoleFailed(int systemError, runtime::IoDirection direction);

void WaitFor(int fd, short events, int timeoutMs) {
  pollfd p{fd, events, 0};
  while (poll(&p, 1, timeoutMs) < 0) {
    if (errno != EINTR) ConsoleFailed(errno, runtime::IoDirection::kRead);
  }
}

}  // namespace

// Ctrl+C and the other signal keys keep working; flow control is off so that Ctrl+S reaches the
// editor; CR stays CR so that Enter is recognised however the terminal sends it.
bool EnterRawMode() {
  if (tcgetattr(STDIN_FILENO, &terminal.Saved) != 0) return false;
  terminal.Raw = terminal.Saved;
  terminal.Raw.c_lflag &= ~(ICANON | ECHO | IEXTEN);
  terminal.Raw.c_iflag &= ~(IXON | ICRNL | INLCR | IGNCR | ISTRIP);
  terminal.Raw.c_cc[VMIN] = 1;
  terminal.Raw.c_cc[VTIME] = 0;
  GuardSignals();
  terminal.RawActive = 1;
  if (tcsetattr(STDIN_FILENO, TCSANOW, &terminal.Raw) != 0) {
    terminal.RawActive = 0;
    UnguardSignals();
    return false;
  }
  return true;
}

void LeaveRawMode() {
  RestoreTerminal();
  terminal.RawActive = 0;
  UnguardSignals();
}

namespace {

[[noreturn]] void ConsoleFailed(int systemError, runtime::IoDirection direction) {
  LeaveRawMode();
  runtime::RunError(runtime::IoResultFromErrno(systemError, direction));
}

}  // namespace

void WriteOut(std::string_view bytes) {
  if (std::fflush(stdout) != 0) ConsoleFailed(errno, runtime::IoDirection::kWrite);
  while (!bytes.empty()) {
    const ssize_t n = write(STDOUT_FILENO, bytes.data(), bytes.size());
    if (n >= 0) {
      bytes.remove_prefix(static_cast<std::size_t>(n));
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      WaitFor(STDOUT_FILENO, POLLOUT, -1);
    } else if (errno != EINTR) {
      ConsoleFailed(errno, runtime::IoDirection::kWrite);
    }
  }
}

int ReadByte(int timeoutMs) {
  if (timeoutMs >= 0) {
    pollfd p{STDIN_FILENO, POLLIN, 0};
    int ready;
    while ((ready = poll(&p, 1, timeoutMs)) < 0) {
      if (errno != EINTR) ConsoleFailed(errno, runtime::IoDirection::kRead);
    }
    if (ready == 0) return kReadTimeout;
  }
  for (;;) {
    unsigned char byte;
    const ssize_t n = read(STDIN_FILENO, &byte, 1);
    if (n == 1) return byte;
    // In raw mode a terminal has no end of input of its own: an end, or EIO, is a hang-up whose
    // signal is ignored or has not come yet.
    if (terminal.RawActive && (n == 0 || errno == EIO)) {
      if (!terminal.HungUp) ForgetTerminal();
      return kReadEnd;
    }
    // A closed standard input has nothing more to give, as a pipe at its end.
    if (n == 0 || errno == EBADF) return kReadEnd;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      WaitFor(STDIN_FILENO, POLLIN, -1);
    } else if (errno != EINTR) {
      ConsoleFailed(errno, runtime::IoDirection::kRead);
    }
  }
}

bool OutputIsTerminal() {
  return isatty(STDOUT_FILENO) != 0;
}

bool InputIsTerminal() {
  return isatty(STDIN_FILENO) != 0;
}

void FlushOutput() {
  if (std::fflush(stdout) != 0) ConsoleFailed(errno, runtime::IoDirection::kWrite);
}

}  // namespace console
