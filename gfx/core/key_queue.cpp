#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>

#include "gfx/core/backing_image.h"
#include "gfx/core/key_queue.h"
#include "gfx/core/key_wait.h"
#include "gfx/keyboard.h"
#include "gfx/platform/platform.h"

// The key queue between the window thread (the only producer) and the program's thread (the only
// consumer), the modifier flags the window thread keeps, and the sleep behind Delay.

namespace gfx {
namespace {

constexpr std::uint32_t kSlots = 32;

// Where keys can come from. Before any window a reader simply waits (tests feed keys from another
// thread); once a window has closed, no key can ever come, so an empty queue ends the wait.
enum class KeySource : std::uint8_t { kNotYetOpen, kOpen, kClosed, kLost };

struct KeyboardContext {
  std::mutex KeyboardHandling;                       // guards everything down to Source
  std::array<std::uint8_t, kSlots + 1> KeyBuffer{};  // slots 1..32; slot 0 is never used
  std::uint32_t NextFree = 1;
  std::uint32_t NextToRead = 1;
  KeySource Source = KeySource::kNotYetOpen;

  // Only the window thread writes these; atomics because tests drive MsgHandler from theirs.
  std::atomic<bool> ShiftKey{false};
  std::atomic<bool> CtrlKey{false};
  std::atomic<bool> AltKey{false};

  std::atomic<SleepFunction> Sleep{nullptr};
};

// Never destroyed: the window thread may still queue a key while the program's exit handlers run.
KeyboardContext& Keyboard() {
  static KeyboardContext* const context = new KeyboardContext;
  return *context;
}

std::uint32_t IncCyclic(std::uint32_t index) {
  return index == kSlots ? 1 : index + 1;
}

bool QueueEmpty(const KeyboardContext& k) {
  return k.NextFree == k.NextToRead;
}

bool Closed(const KeyboardContext& k) {
  return k.Source == KeySource::kClosed || k.Source == KeySource::kLost;
}

// The extended-key code that a key-down of a key without a character queues after 0, or 0 when the
// key queues nothing.
std::uint8_t ExtendedCode(Key code, const KeyboardContext& k) {
  switch (code) {
    case Key::kUp:
      return 72;
    case Key::kDown:
      return 80;
    case Key::kLeft:
      return 75;
    case Key::kRight:
      return 77;
    case Key::kHome:
      return 71;
    case Key::kEnd:
      return 79;
    case Key::kPageUp:
      return 73;
    case Key::kPageDown:
      return 81;
    case Key::kInsert:
      return 82;
    case Key::kDelete:
      return 83;
    default:
      break;
  }
  if (code >= Key::kF1 && code <= Key::kF10) {
    const int index = static_cast<int>(code) - static_cast<int>(Key::kF1);
    // Ctrl wins over Alt when both are held.
    if (k.CtrlKey.load(std::memory_order_relaxed)) return static_cast<std::uint8_t>(94 + index);
    if (k.AltKey.load(std::memory_order_relaxed)) return static_cast<std::uint8_t>(104 + index);
    return static_cast<std::uint8_t>(59 + index);
  }
  return 0;
}

std::atomic<bool>* ModifierFlag(Key code, KeyboardContext& k) {
  switch (code) {
    case Key::kShift:
      return &k.ShiftKey;
    case Key::kCtrl:
      return &k.CtrlKey;
    case Key::kAlt:
      return &k.AltKey;
    default:
      return nullptr;
  }
}

void SetSource(KeySource source) {
  KeyboardContext& k = Keyboard();
  {
    std::lock_guard<std::mutex> lock(k.KeyboardHandling);
    k.Source = source;
  }
  KeySourceChanged();
}

// Under the keyboard lock, for the waits of ReadKey and Delay.
bool KeyOrClosed() {
  const KeyboardContext& k = Keyboard();
  return !QueueEmpty(k) || Closed(k);
}

bool SourceLost() {
  return Keyboard().Source == KeySource::kLost;
}

}  // namespace

// The window thread hands every key message here (through the slot); always answers 0.
std::int32_t MsgHandler(const KeyMessage& message) {
  KeyboardContext& k = Keyboard();
  switch (message.Event) {
    case KeyEvent::kChar:
      // A lone 0 would be read as the first half of an extended key and swallow the next key.
      if (message.Char != 0) AddChar(message.Char);
      break;
    case KeyEvent::kKeyDown:
      if (std::atomic<bool>* flag = ModifierFlag(message.Code, k)) {
        flag->store(true, std::memory_order_relaxed);
      } else if (const std::uint8_t code = ExtendedCode(message.Code, k); code != 0) {
        AddExtChar(code);
      }
      break;
    case KeyEvent::kKeyUp:
      if (std::atomic<bool>* flag = ModifierFlag(message.Code, k)) {
        flag->store(false, std::memory_order_relaxed);
      }
      break;
  }
  return 0;
}

MessageHandler CharMessageHandler() {
  return &MsgHandler;
}

// InitGraph succeeded: readers wait for keys again and Delay sleeps undisturbed.
void KeySourceOpened() {
  SetSource(KeySource::kOpen);
}

// The window has gone (CloseGraph, or lost when the player closed it or its display vanished):
// every waiting ReadKey and, when lost, every Delay is woken to throw WindowClosed.
void KeySourceClosed(bool lost) {
  SetSource(lost ? KeySource::kLost : KeySource::kClosed);
}

}  // namespace gfx

using gfx::Keyboard;

// Queues one byte under its own hold of the lock; on overflow the oldest key goes, as a whole.
void AddChar(std::uint8_t c) {
  gfx::KeyboardContext& k = Keyboard();
  {
    std::lock_guard<std::mutex> lock(k.KeyboardHandling);
    k.KeyBuffer[k.NextFree] = c;
    k.NextFree = gfx::IncCyclic(k.NextFree);
    if (k.NextFree == k.NextToRead) {
      const bool extended = k.KeyBuffer[k.NextToRead] == 0;
      k.NextToRead = gfx::IncCyclic(k.NextToRead);
      if (extended) k.NextToRead = gfx::IncCyclic(k.NextToRead);
    }
  }
  gfx::KeyQueued();
}

// Queues 0 and then the code as two separate queue operations, as the window thread does.
void AddExtChar(std::uint8_t c) {
  AddChar(0);
  AddChar(c);
}

// Program thread: never blocks and never throws, whatever happened to the window.
bool KeyPressed() {
  gfx::KeyboardContext& k = Keyboard();
  std::unique_lock<std::mutex> lock(k.KeyboardHandling);
  const bool pressed = !gfx::QueueEmpty(k);
  lock.unlock();  // the two locks are never held together
  if (!pressed) gfx::PresentPicture();
  return pressed;
}

// Program thread: takes the next byte, waiting for the window thread without polling. Once the
// window has closed, queued keys still come first; then WindowClosed, since none can follow.
std::uint8_t ReadKey() {
  gfx::KeyboardContext& k = Keyboard();
  gfx::PresentPicture();
  std::unique_lock<std::mutex> lock(k.KeyboardHandling);
  gfx::AwaitKey(lock, gfx::KeyOrClosed);
  if (gfx::QueueEmpty(k)) throw WindowClosed();
  const std::uint8_t c = k.KeyBuffer[k.NextToRead];
  k.NextToRead = gfx::IncCyclic(k.NextToRead);
  return c;
}

// Program thread: one sleep, cut short by a lost window (WindowClosed), never by a key. The lock
// is released for the whole wait, so the window thread keeps queueing keys meanwhile.
void Delay(std::uint16_t milliseconds) {
  gfx::PresentPicture();
  gfx::KeyboardContext& k = Keyboard();
  auto lost = [&k] {
    std::lock_guard<std::mutex> lock(k.KeyboardHandling);
    return gfx::SourceLost();
  };
  if (SleepFunction sleep = k.Sleep.load(std::memory_order_acquire)) {
    if (lost()) throw WindowClosed();
    sleep(milliseconds);
    if (lost()) throw WindowClosed();
    return;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  std::unique_lock<std::mutex> lock(k.KeyboardHandling);
  if (gfx::AwaitDeadline(lock, deadline, gfx::SourceLost)) throw WindowClosed();
}

// Tests only: the replacement runs instead of the real sleep; nullptr restores it.
void SetSleepFunction(SleepFunction sleep) {
  Keyboard().Sleep.store(sleep, std::memory_order_release);
}
