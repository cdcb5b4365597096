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

void IgnoreBrokenConnections() {
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
}

}  // namespace gfx::sdl
