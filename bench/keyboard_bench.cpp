#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <semaphore>
#include <string>
#include <thread>
#include <vector>

#include "gfx/graph.h"
#include "gfx/keyboard.h"
#include "gfx/platform/headless/headless_window.h"

// How fast a key reaches a program waiting in ReadKey, and what the waiting costs, each beside a
// baseline from the same run: a bare mutex and condition variable hand-off (the floor) and a
// reader that polls the queue every 10 ms (what waiting would cost without a wake-up).

namespace {

using Clock = std::chrono::steady_clock;

// A one-byte mailbox with nothing else in it: the least any blocking hand-off can cost.
struct Mailbox {
  std::mutex Lock;
  std::condition_variable Filled;
  std::optional<std::uint8_t> Byte;
};
Mailbox mailbox;

std::uint8_t ReadMailbox() {
  std::unique_lock<std::mutex> lock(mailbox.Lock);
  mailbox.Filled.wait(lock, [] { return mailbox.Byte.has_value(); });
  const std::uint8_t c = *mailbox.Byte;
  mailbox.Byte.reset();
  return c;
}
void WriteMailbox(std::uint8_t c) {
  {
    std::lock_guard<std::mutex> lock(mailbox.Lock);
    mailbox.Byte = c;
  }
  mailbox.Filled.notify_one();
}

std::uint8_t PollingReadKey() {
  while (!KeyPressed()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return ReadKey();
}

double pollingCpuPercent = 0;

// Keys come from a window, as in the game: once an earlier benchmark has closed its window, an
// empty queue would end ReadKey's wait at once instead.
class OpenWindow {
 public:
  OpenWindow() {
    gfx::UseHeadlessPlatform();
    std::int16_t driver = Detect, mode = 0;
    InitGraph(driver, mode, "");
    GraphResult();
  }
  ~OpenWindow() { CloseGraph(); }
  OpenWindow(const OpenWindow&) = delete;
  OpenWindow& operator=(const OpenWindow&) = delete;
};

double Percentile(std::vector<double> samples, double p) {
  if (samples.empty()) return 0;
  std::sort(samples.begin(), samples.end());
  const auto index = static_cast<std::size_t>(p * static_cast<double>(samples.size() - 1));
  return samples[index];
}

// A reader thread that waits for bytes through one channel. Each sample makes sure the reader is
// waiting (it said so, then had 300 us to block), writes a byte and answers the time until the
// reader held it.
class LatencyProbe {
 public:
  LatencyProbe(std::uint8_t (*read)(), void (*write)(std::uint8_t)) : write_(write) {
    reader_ = std::thread([this, read] {
      for (;;) {
        waiting_.release();
        const std::uint8_t c = read();
        readAt_ = Clock::now();
        received_.release();
        if (c == 'q' && stop_.load()) return;
      }
    });
  }
  ~LatencyProbe() {
    waiting_.acquire();
    stop_ = true;
    write_('q');
    received_.acquire();
    reader_.join();
  }

  double SampleSeconds() {
    waiting_.acquire();
    std::this_thread::sleep_for(std::chrono::microseconds(300));
    const auto writtenAt = Clock::now();
    write_('k');
    received_.acquire();
    return std::chrono::duration<double>(readAt_ - writtenAt).count();
  }

 private:
  void (*write_)(std::uint8_t);
  std::binary_semaphore waiting_{0};
  std::binary_semaphore received_{0};
  std::atomic<bool> stop_{false};
  Clock::time_point readAt_;
  std::thread reader_;
};

void Report(benchmark::State& state, const char* name, const std::vector<double>& samplesUs) {
  state.counters[std::string(name) + "_median_us"] = Percentile(samplesUs, 0.5);
  state.counters[std::string(name) + "_p99_us"] = Percentile(samplesUs, 0.99);
}

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec * 1e-6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The whole process's CPU time while one thread waits for a key that does not come and this one
// sleeps, as a percentage of one core.
double MeasureIdleCpu(benchmark::State& state, std::uint8_t (*read)(),
                      void (*write)(std::uint8_t)) {
  constexpr auto kWatch = std::chrono::seconds(2);
  double percent = 0;
  for (auto _ : state) {
    std::thread reader([read] { read(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const double before = CpuSeconds();
    const auto start = Clock::now();
    std::this_thread::sleep_for(kWatch);
    const double cpu = CpuSeconds() - before;
    const std::chrono::duration<double> wall = Clock::now() - start;
    write('k');
    reader.join();
    percent = 100.0 * cpu / wall.count();
  }
  state.counters["cpu_percent_of_core"] = percent;
  return percent;
}

// ReadKey's samples alternate with the mailbox's, so that both see the same machine.
void BM_ReadKeyLatency(benchmark::State& state) {
  OpenWindow window;
  std::vector<double> keyUs;
  std::vector<double> mailboxUs;
  {
    LatencyProbe key(ReadKey, AddChar);
    LatencyProbe box(ReadMailbox, WriteMailbox);
    bool mailboxFirst = false;
    for (auto _ : state) {
      // Which goes first changes every time, so that neither always follows the other's wake-up.
      mailboxFirst = !mailboxFirst;
      if (mailboxFirst) mailboxUs.push_back(box.SampleSeconds() * 1e6);
      const double seconds = key.SampleSeconds();
      if (!mailboxFirst) mailboxUs.push_back(box.SampleSeconds() * 1e6);
      state.SetIterationTime(seconds);
      keyUs.push_back(seconds * 1e6);
    }
  }
  Report(state, "readkey", keyUs);
  Report(state, "mailbox", mailboxUs);
  state.counters["median_vs_mailbox"] = Percentile(keyUs, 0.5) / Percentile(mailboxUs, 0.5);
  state.counters["p99_vs_mailbox"] = Percentile(keyUs, 0.99) / Percentile(mailboxUs, 0.99);
}
BENCHMARK(BM_ReadKeyLatency)->Iterations(2000)->UseManualTime()->Unit(benchmark::kMicrosecond);

// The reader of the classic design, for scale: it looks at the queue every 10 ms.
void BM_PollingLatencyBaseline(benchmark::State& state) {
  OpenWindow window;
  std::vector<double> samplesUs;
  {
    LatencyProbe key(PollingReadKey, AddChar);
    for (auto _ : state) {
      const double seconds = key.SampleSeconds();
      state.SetIterationTime(seconds);
      samplesUs.push_back(seconds * 1e6);
    }
  }
  Report(state, "polling", samplesUs);
}
BENCHMARK(BM_PollingLatencyBaseline)
    ->Iterations(100)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

void BM_PollingIdleCpuBaseline(benchmark::State& state) {
  OpenWindow window;
  pollingCpuPercent = MeasureIdleCpu(state, PollingReadKey, AddChar);
}
BENCHMARK(BM_PollingIdleCpuBaseline)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_ReadKeyIdleCpu(benchmark::State& state) {
  OpenWindow window;
  const double percent = MeasureIdleCpu(state, ReadKey, AddChar);
  if (pollingCpuPercent > 0) {
    state.counters["cpu_vs_polling"] = percent / pollingCpuPercent;
  }
}
BENCHMARK(BM_ReadKeyIdleCpu)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
