#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

#include "gfx/platform/sdl/sdl_system.h"

namespace gfx::sdl {

// Lives as long as the process; nonblocking, so draining with nothing posted is fine.
int OpenWake() {
  return eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

void PostWake(int wake) {
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = write(wake, &one, sizeof one);
}

// The eventfd counts wakes; one read takes them all.
void DrainWake(int wake) {
  std::uint64_t count = 0;
  if (wake >= 0 && read(wake, &count, sizeof count) < 0) count = 0;
}

bool AwaitConnectionOrWake(int connection, int wake, int timeoutMs) {
  pollfd fds[2] = {{connection, POLLIN, 0}, {wake, POLLIN, 0}};
  if (poll(fds, 2, timeoutMs) <= 0) return false;
  if (fds[1].revents != 0) DrainWake(wake);
  return fds[0].revents != 0;
}

namespace {

sigset_t BrokenPipe() {
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  return pipe;
}

}  // namespace

void IgnoreBrokenConnections() {
  const sigset_t pipe = BrokenPipe();
  pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
}

BrokenConnectionsIgnored::BrokenConnectionsIgnored() {
  const sigset_t pipe = BrokenPipe();
  sigset_t before;
  pthread_sigmask(SIG_BLOCK, &pipe, &before);
  heldBefore_ = sigismember(&before, SIGPIPE) == 1;
}

BrokenConnectionsIgnored::~BrokenConnectionsIgnored() {
  if (heldBefore_) return;
  const sigset_t pipe = BrokenPipe();
  sigset_t pending;
  if (sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1) {
    const timespec now{};
    sigtimedwait(&pipe, nullptr, &now);
  }
  pthread_sigmask(SIG_UNBLOCK, &pipe, nullptr);
}

}  // namespace gfx::sdl
