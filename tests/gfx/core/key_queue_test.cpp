#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "gfx/core/key_queue.h"
#include "gfx/keyboard.h"
#include "gfx/platform/platform.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

class KeyQueue : public testing::Test {
 protected:
  void SetUp() override { Reset(); }
  void TearDown() override { Reset(); }

  static void Reset() {
    SetSleepFunction(nullptr);
    gfx::KeySourceOpened();
    for (gfx::Key modifier : {gfx::Key::kShift, gfx::Key::kCtrl, gfx::Key::kAlt}) {
      Send(gfx::KeyEvent::kKeyUp, modifier);
    }
    ReadAll();
  }

  static std::string ReadAll() {
    std::string bytes;
    while (KeyPressed()) bytes.push_back(ReadKey());
    return bytes;
  }

  static std::int32_t Send(gfx::KeyEvent event, gfx::Key code = gfx::Key::kOther,
                           std::uint8_t c = 0) {
    gfx::KeyMessage message;
    message.Event = event;
    message.Code = code;
    message.Char = c;
    return gfx::CharMessageHandler()(message);
  }
  static void Press(gfx::Key code) {
    EXPECT_EQ(Send(gfx::KeyEvent::kKeyDown, code), 0);
    EXPECT_EQ(Send(gfx::KeyEvent::kKeyUp, code), 0);
  }
  static std::string Ext(char code) { return std::string(1, '\0') + code; }
};

std::string Letters(int count, char first = 'A') {
  std::string s;
  for (int i = 0; i < count; ++i) s.push_back(static_cast<char>(first + i));
  return s;
}

void Type(const std::string& text) {
  for (char c : text) AddChar(c);
}

TEST_F(KeyQueue, FullQueueKeepsTheNewestKeysAndDropsWholeExtendedKeys) {
  Type(Letters(31));
  EXPECT_EQ(ReadAll(), Letters(31)) << "31 bytes fit";

  Type(Letters(32));
  EXPECT_EQ(ReadAll(), Letters(31, 'B')) << "the 32nd loses the oldest";

  Type(Letters(31));
  AddExtChar(72);
  EXPECT_EQ(ReadAll(), Letters(29, 'C') + Ext(72)) << "an arrow loses the two oldest";

  AddExtChar(80);
  Type(Letters(29));
  AddChar('z');
  EXPECT_EQ(ReadAll(), Letters(29) + "z") << "the oldest extended key goes as a whole";

  AddExtChar(72);
  AddExtChar(80);
  Type(Letters(27));
  AddExtChar(75);
  EXPECT_EQ(ReadAll(), Ext(80) + Letters(27) + Ext(75));
}

TEST_F(KeyQueue, OrderSurvivesManyLapsOfTheRing) {
  std::string expected;
  std::string got;
  char next = 'a';
  for (int lap = 0; lap < 40; ++lap) {
    const int count = 1 + (lap * 7) % 31;
    for (int i = 0; i < count; ++i) {
      AddChar(next);
      expected.push_back(next);
      next = next == 'z' ? 'a' : static_cast<char>(next + 1);
    }
    for (int i = 0; i < count / 2 + 1; ++i) got.push_back(ReadKey());
    got += ReadAll();
  }
  EXPECT_EQ(got, expected);
}

TEST_F(KeyQueue, KeyPressedOnlyLooks) {
  EXPECT_FALSE(KeyPressed());
  EXPECT_FALSE(KeyPressed());
  AddChar('q');
  EXPECT_TRUE(KeyPressed());
  EXPECT_TRUE(KeyPressed());
  EXPECT_EQ(ReadKey(), 'q');
  EXPECT_FALSE(KeyPressed());
}

TEST_F(KeyQueue, WindowMessagesBecomeTheClassicByteStream) {
  using gfx::Key;
  const std::vector<std::pair<Key, char>> navigation = {
      {Key::kUp, 72},     {Key::kDown, 80},  {Key::kLeft, 75},   {Key::kRight, 77},
      {Key::kHome, 71},   {Key::kEnd, 79},   {Key::kPageUp, 73}, {Key::kPageDown, 81},
      {Key::kInsert, 82}, {Key::kDelete, 83}};
  for (const auto& [key, code] : navigation) {
    Press(key);
    EXPECT_EQ(ReadAll(), Ext(code)) << "key " << static_cast<int>(key);
  }

  Press(Key::kUp);
  EXPECT_EQ(ReadKey(), 0);
  EXPECT_EQ(ReadKey(), 72);

  for (std::uint8_t c : std::initializer_list<std::uint8_t>{'a', 'W', '1', 13, 27, 8, 9, 0xE9}) {
    EXPECT_EQ(Send(gfx::KeyEvent::kChar, Key::kOther, c), 0);
    EXPECT_EQ(ReadAll(), std::string(1, static_cast<char>(c)));
  }
  // Codes from 128 up come back as themselves, not as negative numbers.
  Send(gfx::KeyEvent::kChar, Key::kOther, 0xE9);
  EXPECT_TRUE(ReadKey() == 233);
  Send(gfx::KeyEvent::kChar, Key::kOther, 0);
  Press(Key::kOther);
  Press(Key::kShift);
  Press(Key::kCtrl);
  Press(Key::kAlt);
  Send(gfx::KeyEvent::kKeyUp, Key::kLeft);
  EXPECT_FALSE(KeyPressed()) << "nothing else queues a byte";
}

TEST_F(KeyQueue, FunctionKeysFollowTheModifiersHeld) {
  using gfx::Key;
  auto functionKeys = [] {
    for (int i = 0; i < 10; ++i) {
      Send(gfx::KeyEvent::kKeyDown, static_cast<Key>(static_cast<int>(Key::kF1) + i));
    }
    std::string codes;
    for (char c : ReadAll()) {
      if (c != 0) codes.push_back(c);
    }
    return codes;
  };
  auto range = [](int first) {
    std::string s;
    for (int i = 0; i < 10; ++i) s.push_back(static_cast<char>(first + i));
    return s;
  };

  EXPECT_EQ(functionKeys(), range(59));
  Send(gfx::KeyEvent::kKeyDown, Key::kShift);
  EXPECT_EQ(functionKeys(), range(59)) << "Shift changes nothing";
  Send(gfx::KeyEvent::kKeyDown, Key::kAlt);
  EXPECT_EQ(functionKeys(), range(104));
  Send(gfx::KeyEvent::kKeyDown, Key::kCtrl);
  EXPECT_EQ(functionKeys(), range(94)) << "Ctrl is tested before Alt";
  Send(gfx::KeyEvent::kKeyUp, Key::kCtrl);
  EXPECT_EQ(functionKeys(), range(104));
  Send(gfx::KeyEvent::kKeyUp, Key::kAlt);
  EXPECT_EQ(functionKeys(), range(59));
}

TEST_F(KeyQueue, ReaderWaitsForKeysFromAnotherThread) {
  std::atomic<bool> done{false};
  std::string got;
  std::thread reader([&] {
    got.push_back(ReadKey());
    got.push_back(ReadKey());
    got.push_back(ReadKey());
    done = true;
  });
  std::this_thread::sleep_for(milliseconds(20));
  EXPECT_FALSE(done) << "ReadKey must wait while the queue is empty";
  AddChar('k');
  // Half of an extended key: the reader takes the 0 and waits for the code.
  AddChar(0);
  std::this_thread::sleep_for(milliseconds(20));
  EXPECT_FALSE(done);
  AddChar(77);
  reader.join();
  EXPECT_EQ(got, "k" + Ext(77));
}

// Room in the queue for the producer of the hand-off test. A mutex and a condition variable, not
// std::counting_semaphore: the libstdc++ of mingw-w64's GCC 12 can lose its wake-ups.
class Room {
 public:
  void acquire() {
    std::unique_lock<std::mutex> hold(mutex_);
    freed_.wait(hold, [this] { return free_ > 0; });
    --free_;
  }
  void release() {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      ++free_;
    }
    freed_.notify_one();
  }

 private:
  std::mutex mutex_;
  std::condition_variable freed_;
  int free_ = 31;
};

TEST_F(KeyQueue, HandOffBetweenThreadsLosesAndReordersNothing) {
  // The producer never lets more than 31 bytes wait, so every byte must arrive, in order.
  constexpr int kKeys = 4000;
  Room room;
  std::string expected;
  for (int i = 0; i < kKeys; ++i) {
    if (i % 5 == 0) {
      expected += Ext(static_cast<char>(59 + i % 10));
    } else {
      expected.push_back(static_cast<char>(1 + i % 250));
    }
  }
  std::thread producer([&] {
    for (char c : expected) {
      room.acquire();
      AddChar(c);
    }
  });
  std::string got;
  while (got.size() < expected.size()) {
    got.push_back(ReadKey());
    room.release();
  }
  producer.join();
  EXPECT_EQ(got, expected);
  EXPECT_FALSE(KeyPressed());
}

TEST_F(KeyQueue, LostWindowEndsWaitingAfterTheQueuedKeys) {
  Type("ab");
  gfx::KeySourceClosed(true);
  EXPECT_TRUE(KeyPressed());
  EXPECT_EQ(ReadKey(), 'a');
  EXPECT_EQ(ReadKey(), 'b');
  EXPECT_FALSE(KeyPressed()) << "KeyPressed neither blocks nor throws";
  EXPECT_THROW(ReadKey(), WindowClosed);
  EXPECT_THROW(ReadKey(), WindowClosed);
  EXPECT_THROW(Delay(0), WindowClosed);
  EXPECT_THROW(Delay(1000), WindowClosed);

  static std::atomic<int> sleeps;
  sleeps = 0;
  SetSleepFunction([](std::uint16_t) { ++sleeps; });
  EXPECT_THROW(Delay(100), WindowClosed) << "a replaced sleep does not hide the closed window";
  EXPECT_EQ(sleeps, 0);

  gfx::KeySourceOpened();
  Delay(100);
  EXPECT_EQ(sleeps, 1);
  AddChar('c');
  EXPECT_EQ(ReadKey(), 'c');
}

TEST_F(KeyQueue, ClosedGraphicsStillSleepsButNoKeyCanCome) {
  gfx::KeySourceClosed(false);
  const auto start = Clock::now();
  EXPECT_NO_THROW(Delay(15));
  EXPECT_GE(Clock::now() - start, milliseconds(15));
  EXPECT_THROW(ReadKey(), WindowClosed);
  AddChar('x');
  EXPECT_EQ(ReadKey(), 'x') << "a key that did get queued is still handed out";
}

TEST_F(KeyQueue, ClosingWakesWaitingReadersAndSleepers) {
  std::atomic<bool> readerThrew{false};
  std::thread reader([&] {
    try {
      ReadKey();
    } catch (const WindowClosed&) {
      readerThrew = true;
    }
  });

  std::atomic<bool> sleeperThrew{false};
  Clock::time_point sleeperEnded;
  std::thread sleeper([&] {
    try {
      Delay(1500);
    } catch (const WindowClosed&) {
      sleeperThrew = true;
    }
    sleeperEnded = Clock::now();
  });

  std::this_thread::sleep_for(milliseconds(50));
  const auto closed = Clock::now();
  gfx::KeySourceClosed(true);
  reader.join();
  sleeper.join();
  EXPECT_TRUE(readerThrew);
  EXPECT_TRUE(sleeperThrew);
  EXPECT_LT(sleeperEnded - closed, milliseconds(200));
}

TEST_F(KeyQueue, DelaySleepsItsLengthWhileKeysQueue) {
  auto start = Clock::now();
  Delay(0);
  EXPECT_LT(Clock::now() - start, milliseconds(50));

  std::thread typist([] {
    std::this_thread::sleep_for(milliseconds(5));
    AddChar('t');
  });
  start = Clock::now();
  Delay(60);
  const auto slept = Clock::now() - start;
  typist.join();
  EXPECT_GE(slept, milliseconds(60)) << "a key does not cut the sleep short";
  EXPECT_EQ(ReadAll(), "t");
}

TEST_F(KeyQueue, ReplacedSleepRunsInsteadAndMayTypeKeys) {
  static std::vector<std::uint16_t> calls;
  static std::thread::id caller;
  calls.clear();
  SetSleepFunction([](std::uint16_t ms) {
    calls.push_back(ms);
    caller = std::this_thread::get_id();
    AddChar('s');
  });
  const auto start = Clock::now();
  Delay(1500);
  Delay(100);
  EXPECT_LT(Clock::now() - start, milliseconds(500));
  EXPECT_EQ(calls, (std::vector<std::uint16_t>{1500, 100}));
  EXPECT_EQ(caller, std::this_thread::get_id());
  EXPECT_EQ(ReadAll(), "ss");

  // The window is lost while the replaced sleep runs: Delay reports it on return.
  SetSleepFunction([](std::uint16_t) { gfx::KeySourceClosed(true); });
  EXPECT_THROW(Delay(100), WindowClosed);

  gfx::KeySourceOpened();
  SetSleepFunction(nullptr);
  const auto real = Clock::now();
  Delay(20);
  EXPECT_GE(Clock::now() - real, milliseconds(20));
  EXPECT_EQ(calls.size(), 2u);
}

}  // namespace
