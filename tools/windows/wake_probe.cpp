// Two threads hand a turn back and forth through one waiting primitive, many times, while a
// watchdog looks for a hand-off that never arrives: a lost wake-up shows as a hang at 0 % CPU.
// Modes: "drawing-lock" (the layer's own drawing lock, taken in turn by two threads),
// "atomic-wait" (std::atomic wait/notify), "semaphore" (std::counting_semaphore),
// "condition" (std::mutex and std::condition_variable, for comparison).
// Usage: wake_probe MODE [ROUNDS]. Exit 0 when every round was handed over, 3 on a hang.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <semaphore>
#include <thread>

#include "gfx/core/backing_image.h"

namespace {

using Clock = std::chrono::steady_clock;
std::atomic<long> progress{0};

// A hand-off that has not moved for this long is taken as lost.
constexpr auto kStuck = std::chrono::seconds(5);

void Watch(const char* mode, long rounds) {
  std::thread([mode, rounds] {
    long last = -1;
    auto since = Clock::now();
    for (;;) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      const long now = progress.load();
      if (now != last) {
        last = now;
        since = Clock::now();
      } else if (Clock::now() - since > kStuck) {
        std::printf("%s: HUNG after %ld of %ld hand-offs\n", mode, now, rounds);
        std::fflush(stdout);
        std::_Exit(3);
      }
    }
  }).detach();
}

// Holds of every length, as drawing calls have: long ones outlast the waiter's spinning, so
// that it really goes to sleep, and short ones release it while it is on its way there.
void Draw(long round) {
  const int work = static_cast<int>((round * 2654435761u) % 4096);
  volatile int sink = 0;
  for (int i = 0; i < work; ++i) sink = sink + i;
}

// Each thread takes the lock, finds it its turn or not, and lets go: the other thread is nearly
// always asleep waiting, so every unlock has a sleeper to wake.
void DrawingLockRounds(long rounds) {
  gfx::DrawingLock& lock = gfx::GraphDrawing();
  long turn = 0;  // guarded by the lock
  auto player = [&](long parity) {
    for (;;) {
      std::lock_guard<gfx::DrawingLock> hold(lock);
      if (turn >= rounds) return;
      Draw(turn);
      if (turn % 2 == parity) {
        ++turn;
        progress.fetch_add(1);
      }
    }
  };
  std::thread other(player, 1);
  player(0);
  other.join();
}

void AtomicWaitRounds(long rounds) {
  std::atomic<std::uint32_t> turn{0};
  auto player = [&](std::uint32_t parity) {
    for (std::uint32_t i = parity; i < static_cast<std::uint32_t>(rounds); i += 2) {
      for (std::uint32_t seen = turn.load(); seen != i; seen = turn.load()) turn.wait(seen);
      turn.store(i + 1);
      turn.notify_all();
      progress.fetch_add(1);
    }
  };
  std::thread other(player, 1);
  player(0);
  other.join();
}

void SemaphoreRounds(long rounds) {
  std::counting_semaphore<1> ping(0), pong(0);
  std::thread other([&] {
    for (long i = 0; i < rounds / 2; ++i) {
      ping.acquire();
      progress.fetch_add(1);
      pong.release();
    }
  });
  for (long i = 0; i < rounds / 2; ++i) {
    ping.release();
    pong.acquire();
    progress.fetch_add(1);
  }
  other.join();
}

void ConditionRounds(long rounds) {
  std::mutex mutex;
  std::condition_variable changed;
  long turn = 0;
  auto player = [&](long parity) {
    for (long i = parity; i < rounds; i += 2) {
      std::unique_lock<std::mutex> hold(mutex);
      changed.wait(hold, [&] { return turn == i; });
      ++turn;
      progress.fetch_add(1);
      changed.notify_all();
    }
  };
  std::thread other(player, 1);
  player(0);
  other.join();
}

}  // namespace

int main(int argc, char** argv) {
  const char* mode = argc > 1 ? argv[1] : "drawing-lock";
  const long rounds = argc > 2 ? std::atol(argv[2]) : 200000;
  Watch(mode, rounds);
  const auto start = Clock::now();
  if (std::strcmp(mode, "drawing-lock") == 0) {
    DrawingLockRounds(rounds);
  } else if (std::strcmp(mode, "atomic-wait") == 0) {
    AtomicWaitRounds(rounds);
  } else if (std::strcmp(mode, "semaphore") == 0) {
    SemaphoreRounds(rounds);
  } else if (std::strcmp(mode, "condition") == 0) {
    ConditionRounds(rounds);
  } else {
    std::fprintf(stderr, "unknown mode %s\n", mode);
    return 2;
  }
  const double us = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
  std::printf("%s: %ld hand-offs, %.2f us each\n", mode, progress.load(), us / progress.load());
  return 0;
}
