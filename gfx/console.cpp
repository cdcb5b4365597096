#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <string>
#include <string_view>

#include "gfx/crt.h"
#include "runtime/run_error.h"

// The console side of the layer: clearing the terminal at start-up and reading the player's name
// at the end. On a terminal the name is typed into a small line editor running in raw mode; from
// a pipe or file a line is read as it comes. Positions in the editor are bytes: the name is kept
// byte for byte, as typed.

namespace {

constexpr int kEditorWidth = 254;     // typed positions the name line editor accepts
constexpr int kEscapeTimeoutMs = 50;  // how long a lone Escape waits for the rest of a sequence
constexpr int kReadEnd = -1;          // end of input
constexpr int kReadTimeout = -2;

// Signals that end or stop the program while the terminal is in raw mode; their handlers put the
// terminal back first.
constexpr std::array<int, 5> kGuardedSignals = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP};

struct ConsoleContext {
  termios Saved{};  // the terminal's mode before the editor changed it
  termios Raw{};
  volatile std::sig_atomic_t RawActive = 0;
  std::array<bool, kGuardedSignals.size()> Guarded{};  // we replaced the default action
};

ConsoleContext console;

void RestoreTerminal() {
  if (console.RawActive) tcsetattr(STDIN_FILENO, TCSANOW, &console.Saved);
}

// Async-signal-safe: restore the terminal, then let the signal do what it would have done. Its
// handler was reset to the default action on entry (SA_RESETHAND), so raising it again ends the
// program.
void OnFatalSignal(int signal) {
  RestoreTerminal();
  raise(signal);
}

// Ctrl+Z: leave the terminal usable while stopped and take it back when continued. Stopping with
// SIGSTOP rather than a re-raised SIGTSTP takes effect at once, even where signals raised inside
// a handler are held back until it returns.
void OnStopSignal(int) {
  const int savedErrno = errno;
  RestoreTerminal();
  kill(getpid(), SIGSTOP);
  if (console.RawActive) tcsetattr(STDIN_FILENO, TCSANOW, &console.Raw);
  errno = savedErrno;
}

void InstallGuard(int signal) {
  struct sigaction action {};
  sigemptyset(&action.sa_mask);
  if (signal == SIGTSTP) {
    action.sa_handler = OnStopSignal;
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
    console.Guarded[i] = current.sa_handler == SIG_DFL && !(current.sa_flags & SA_SIGINFO);
    if (console.Guarded[i]) InstallGuard(kGuardedSignals[i]);
  }
}

void UnguardSignals() {
  for (std::size_t i = 0; i < kGuardedSignals.size(); ++i) {
    if (console.Guarded[i]) std::signal(kGuardedSignals[i], SIG_DFL);
    console.Guarded[i] = false;
  }
}

// Ctrl+C and the other signal keys keep working; flow control is off so that Ctrl+S reaches the
// editor; CR stays CR so that Enter is recognised however the terminal sends it.
bool EnterRawMode() {
  if (tcgetattr(STDIN_FILENO, &console.Saved) != 0) return false;
  console.Raw = console.Saved;
  console.Raw.c_lflag &= ~(ICANON | ECHO | IEXTEN);
  console.Raw.c_iflag &= ~(IXON | ICRNL | INLCR | IGNCR | ISTRIP);
  console.Raw.c_cc[VMIN] = 1;
  console.Raw.c_cc[VTIME] = 0;
  GuardSignals();
  console.RawActive = 1;
  if (tcsetattr(STDIN_FILENO, TCSANOW, &console.Raw) != 0) {
    console.RawActive = 0;
    UnguardSignals();
    return false;
  }
  return true;
}

void LeaveRawMode() {
  RestoreTerminal();
  console.RawActive = 0;
  UnguardSignals();
}

[[noreturn]] void ConsoleFailed(int systemError, runtime::IoDirection direction) {
  LeaveRawMode();
  runtime::RunError(runtime::IoResultFromErrno(systemError, direction));
}

void WaitFor(int fd, short events, int timeoutMs) {
  pollfd p{fd, events, 0};
  while (poll(&p, 1, timeoutMs) < 0) {
    if (errno != EINTR) ConsoleFailed(errno, runtime::IoDirection::kRead);
  }
}

// Writes everything or ends the program with the run-time error report.
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

// One byte from standard input (0..255), kReadEnd, or kReadTimeout when timeoutMs (not negative)
// passed without input.
int ReadByte(int timeoutMs = -1) {
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
    if (n == 0) return kReadEnd;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      WaitFor(STDIN_FILENO, POLLIN, -1);
    } else if (errno != EINTR) {
      ConsoleFailed(errno, runtime::IoDirection::kRead);
    }
  }
}

enum class EditKey {
  kNone,
  kChar,
  kEnter,
  kBackspace,
  kLeft,
  kRight,
  kHome,
  kEnd,
  kErase,
  kEndOfInput
};

struct KeyPress {
  EditKey Kind = EditKey::kNone;
  char Char = 0;
};

// The keypad in application mode sends ESC O and a letter; these letters stand for characters.
char KeypadCharacter(int letter) {
  if (letter >= 'p' && letter <= 'y') return static_cast<char>('0' + (letter - 'p'));
  switch (letter) {
    case 'j':
      return '*';
    case 'k':
      return '+';
    case 'm':
      return '-';
    case 'n':
      return '.';
    case 'o':
      return '/';
    default:
      return 0;
  }
}

EditKey CursorKey(int final) {
  switch (final) {
    case 'D':
      return EditKey::kLeft;
    case 'C':
      return EditKey::kRight;
    case 'H':
      return EditKey::kHome;
    case 'F':
      return EditKey::kEnd;
    default:
      return EditKey::kNone;
  }
}

// ESC [ parameters final: cursor keys with or without modifiers, and the numbered Home and End of
// the various terminals. Anything else (function keys, Delete...) is read whole and ignored.
KeyPress ReadControlSequence() {
  std::string parameters;
  for (;;) {
    const int byte = ReadByte(kEscapeTimeoutMs);
    if (byte < 0) return {};
    if (byte >= 0x40 && byte <= 0x7E) {
      if (byte != '~') return {CursorKey(byte)};
      const std::string_view number = std::string_view(parameters).substr(0, parameters.find(';'));
      if (number == "1" || number == "7") return {EditKey::kHome};
      if (number == "4" || number == "8") return {EditKey::kEnd};
      return {};
    }
    if (parameters.size() < 16) parameters.push_back(static_cast<char>(byte));
  }
}

// After ESC: a sequence when more follows at once, a lone Escape (erase the line) when nothing
// does, an Alt+key (ignored, as the editor has no use for it) otherwise.
KeyPress ReadEscape() {
  const int next = ReadByte(kEscapeTimeoutMs);
  if (next == kReadTimeout || next == kReadEnd) return {EditKey::kErase};
  if (next == '[') return ReadControlSequence();
  if (next != 'O') return {};
  const int letter = ReadByte(kEscapeTimeoutMs);
  if (letter == 'M') return {EditKey::kEnter};
  if (const char c = KeypadCharacter(letter)) return {EditKey::kChar, c};
  return {CursorKey(letter)};
}

KeyPress ReadEditKey() {
  const int byte = ReadByte();
  switch (byte) {
    case kReadEnd:
      return {EditKey::kEndOfInput};
    case '\r':
    case '\n':
      return {EditKey::kEnter};
    case 0x7F:
    case 0x08:
    case 0x13:  // Ctrl+S
      return {EditKey::kBackspace};
    case 0x19:  // Ctrl+Y
      return {EditKey::kErase};
    case 0x1B:
      return ReadEscape();
    default:
      if (byte < 0x20) return {};
      return {EditKey::kChar, static_cast<char>(byte)};
  }
}

struct EditLine {
  std::array<char, kEditorWidth> Text{};
  int Cursor = 0;
  int Length = 0;  // the furthest position typed
};

std::string_view Typed(const EditLine& line, int from) {
  return {line.Text.data() + from, static_cast<std::size_t>(line.Length - from)};
}

// Applies one key and answers what to echo for it.
std::string Edit(EditLine& line, const KeyPress& key) {
  std::string echo;
  switch (key.Kind) {
    case EditKey::kChar:
      // Overwrites; a full line refuses further characters.
      if (line.Cursor < kEditorWidth) {
        line.Text[line.Cursor++] = key.Char;
        line.Length = std::max(line.Length, line.Cursor);
        echo.push_back(key.Char);
      }
      break;
    case EditKey::kBackspace:
      if (line.Cursor == line.Length && line.Cursor > 0) {
        --line.Cursor;
        --line.Length;
        echo = "\b \b";
      }
      break;
    case EditKey::kLeft:
      if (line.Cursor > 0) {
        --line.Cursor;
        echo = "\b";
      }
      break;
    case EditKey::kRight:
      if (line.Cursor < line.Length) echo.push_back(line.Text[line.Cursor++]);
      break;
    case EditKey::kHome:
      echo.assign(static_cast<std::size_t>(line.Cursor), '\b');
      line.Cursor = 0;
      break;
    case EditKey::kEnd:
      echo = Typed(line, line.Cursor);
      line.Cursor = line.Length;
      break;
    case EditKey::kErase:
      echo = Typed(line, line.Cursor);
      for (int i = 0; i < line.Length; ++i) echo += "\b \b";
      line.Cursor = line.Length = 0;
      break;
    case EditKey::kEnter:
    case EditKey::kEndOfInput:
      echo = "\r\n";
      break;
    case EditKey::kNone:
      break;
  }
  return echo;
}

ShortString EditName() {
  EditLine line;
  for (;;) {
    const KeyPress key = ReadEditKey();
    const std::string echo = Edit(line, key);
    if (!echo.empty()) WriteOut(echo);
    if (key.Kind == EditKey::kEnter || key.Kind == EditKey::kEndOfInput) break;
  }
  return ShortString(Typed(line, 0));
}

// A pipe, a file, or a terminal that could not be switched to raw mode (it then echoes and edits
// the line itself). The rest of an overlong line is consumed; a CR before the LF is dropped.
ShortString ReadPlainLine() {
  std::string text;
  std::size_t total = 0;
  for (int byte = ReadByte(); byte != kReadEnd && byte != '\n'; byte = ReadByte()) {
    if (text.size() < ShortString::kCapacity) text.push_back(static_cast<char>(byte));
    ++total;
  }
  if (total == text.size() && !text.empty() && text.back() == '\r') text.pop_back();
  return ShortString(text);
}

}  // namespace

// Program start-up: blanks the terminal and homes the cursor; writes nothing into a pipe or file.
void ClrScr() {
  if (isatty(STDOUT_FILENO)) WriteOut("\x1b[H\x1b[2J");
}

// The name dialogue at the end of a run; the terminal's mode is restored on every way out.
ShortString ReadLine() {
  if (std::fflush(stdout) != 0) ConsoleFailed(errno, runtime::IoDirection::kWrite);
  if (!isatty(STDIN_FILENO) || !EnterRawMode()) return ReadPlainLine();
  const ShortString name = EditName();
  LeaveRawMode();
  return name;
}
