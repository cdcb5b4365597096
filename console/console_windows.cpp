#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <string>
#include <string_view>

#include "console/terminal.h"
#include "runtime/run_error.h"
#include "runtime/windows_error.h"

// The console on Windows. In raw mode the editor reads key events (ReadConsoleInput) and gets
// them as a terminal would send them: characters in UTF-8, the cursor keys as escape sequences,
// so that the same editor serves both systems. Output goes through the console's own
// virtual-terminal processing, in UTF-8. Ctrl+C ends the program as on a terminal, with the
// console put back first; a closed console is a hang-up: the end of the input, after which the
// name typed so far is recorded and the run ends as after Enter.

namespace console {
namespace {

struct ConsoleContext {
  HANDLE In = INVALID_HANDLE_VALUE;
  HANDLE Out = INVALID_HANDLE_VALUE;
  DWORD SavedInMode = 0;
  DWORD SavedOutMode = 0;
  UINT SavedInCodePage = 0;
  UINT SavedOutCodePage = 0;
  std::atomic<bool> RawActive{false};
  std::atomic<bool> HungUp{false};
  HANDLE HangUp = nullptr;  // set when the console closes: wakes the reader
  bool Handled = false;     // OnConsoleEvent is installed
  std::string Pending;      // bytes of the last key not yet read
  wchar_t HighSurrogate = 0;
};

ConsoleContext terminal;

bool IsConsole(HANDLE handle) {
  DWORD mode;
  return handle != INVALID_HANDLE_VALUE && handle != nullptr && GetConsoleMode(handle, &mode);
}

void RestoreConsole() {
  if (!terminal.RawActive.exchange(false)) return;
  SetConsoleMode(terminal.In, terminal.SavedInMode);
  SetConsoleMode(terminal.Out, terminal.SavedOutMode);
  SetConsoleCP(terminal.SavedInCodePage);
  SetConsoleOutputCP(terminal.SavedOutCodePage);
}

// The console is gone: reads end from now on and writes go nowhere rather than failing, as on a
// terminal that hung up.
void ForgetConsole() {
  terminal.HungUp = true;
  const int null = _open("NUL", _O_RDWR | _O_BINARY);
  if (null >= 0) {
    _dup2(null, 0);
    _dup2(null, 1);
    _dup2(null, 2);
    _close(null);
  }
  SetEvent(terminal.HangUp);
}

// Runs on a thread of its own. Ctrl+C and Ctrl+Break: the console is put back and the default
// handler ends the program. Closing the console, logging off or shutting down: the reader is
// woken with the end of the input, and this thread waits while the run records the name; the
// program's end ends it (Windows allows a few seconds).
BOOL WINAPI OnConsoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      RestoreConsole();
      return FALSE;
    default:
      if (!terminal.HungUp) ForgetConsole();
      Sleep(INFINITE);
      return TRUE;
  }
}

[[noreturn]] void ConsoleFailed(DWORD systemError, runtime::IoDirection direction) {
  LeaveRawMode();
  runtime::RunError(runtime::IoResultFromWindowsError(systemError, direction));
}

// A failure of the C library's own output, which reports through errno.
[[noreturn]] void OutputFailed() {
  LeaveRawMode();
  runtime::RunError(runtime::IoResultFromErrno(errno, runtime::IoDirection::kWrite));
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// A character of a key event, joining the two halves of a character outside the basic plane.
void AppendCharacter(std::string& out, wchar_t c) {
  if (c >= 0xD800 && c <= 0xDBFF) {
    terminal.HighSurrogate = c;
    return;
  }
  if (c >= 0xDC00 && c <= 0xDFFF && terminal.HighSurrogate != 0) {
    const char32_t high = terminal.HighSurrogate - 0xD800;
    terminal.HighSurrogate = 0;
    AppendUtf8(out, 0x10000 + (high << 10) + (c - 0xDC00));
    return;
  }
  terminal.HighSurrogate = 0;
  AppendUtf8(out, c);
}

// What a terminal sends for the key; nothing for a key the editor has no use for.
std::string TerminalBytes(const KEY_EVENT_RECORD& key) {
  std::string bytes;
  // A character typed as Alt and digits on the keypad comes with the release of Alt.
  if (!key.bKeyDown) {
    if (key.wVirtualKeyCode == VK_MENU && key.uChar.UnicodeChar != 0) {
      AppendCharacter(bytes, key.uChar.UnicodeChar);
    }
    return bytes;
  }
  std::string one;
  switch (key.wVirtualKeyCode) {
    case VK_LEFT:
      one = "\x1b[D";
      break;
    case VK_RIGHT:
      one = "\x1b[C";
      break;
    case VK_HOME:
      one = "\x1b[H";
      break;
    case VK_END:
      one = "\x1b[F";
      break;
    case VK_RETURN:
      one = "\r";
      break;
    case VK_BACK:
      one = "\b";
      break;
    case VK_ESCAPE:
      one = "\x1b";
      break;
    default:
      if (key.uChar.UnicodeChar != 0) AppendCharacter(one, key.uChar.UnicodeChar);
      break;
  }
  for (WORD i = 0; i < key.wRepeatCount; ++i) bytes += one;
  return bytes;
}

// Waits for the console or the hang-up; false when timeoutMs passed first.
bool AwaitInput(int timeoutMs) {
  const HANDLE handles[] = {terminal.HangUp, terminal.In};
  const DWORD waited = WaitForMultipleObjects(
      2, handles, FALSE, timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs));
  if (waited == WAIT_FAILED) ConsoleFailed(GetLastError(), runtime::IoDirection::kRead);
  return waited != WAIT_TIMEOUT;
}

int ReadConsoleKey(int timeoutMs) {
  while (terminal.Pending.empty()) {
    if (terminal.HungUp) return kReadEnd;
    if (!AwaitInput(timeoutMs)) return kReadTimeout;
    if (terminal.HungUp) return kReadEnd;
    INPUT_RECORD record;
    DWORD count = 0;
    if (!ReadConsoleInputW(terminal.In, &record, 1, &count)) {
      if (terminal.HungUp) return kReadEnd;
      ConsoleFailed(GetLastError(), runtime::IoDirection::kRead);
    }
    if (count == 1 && record.EventType == KEY_EVENT) {
      terminal.Pending = TerminalBytes(record.Event.KeyEvent);
    }
  }
  const auto byte = static_cast<unsigned char>(terminal.Pending.front());
  terminal.Pending.erase(0, 1);
  return byte;
}

// A pipe or a file, byte by byte and untranslated (no text mode).
int ReadStreamByte() {
  unsigned char byte;
  DWORD count = 0;
  if (ReadFile(GetStdHandle(STD_INPUT_HANDLE), &byte, 1, &count, nullptr)) {
    return count == 1 ? byte : kReadEnd;
  }
  const DWORD error = GetLastError();
  // A pipe whose writer has gone, or no standard input at all, has nothing more to give.
  if (error == ERROR_BROKEN_PIPE || error == ERROR_HANDLE_EOF || error == ERROR_INVALID_HANDLE) {
    return kReadEnd;
  }
  ConsoleFailed(error, runtime::IoDirection::kRead);
}

}  // namespace

bool InputIsTerminal() {
  return IsConsole(GetStdHandle(STD_INPUT_HANDLE));
}

bool OutputIsTerminal() {
  return IsConsole(GetStdHandle(STD_OUTPUT_HANDLE));
}

// Line input, echo and the console's own editing off; Ctrl+C still a signal. UTF-8 both ways and
// escape sequences understood on output, as the editor writes them.
bool EnterRawMode() {
  terminal.In = GetStdHandle(STD_INPUT_HANDLE);
  terminal.Out = GetStdHandle(STD_OUTPUT_HANDLE);
  if (!GetConsoleMode(terminal.In, &terminal.SavedInMode)) return false;
  if (!GetConsoleMode(terminal.Out, &terminal.SavedOutMode)) terminal.Out = INVALID_HANDLE_VALUE;
  terminal.SavedInCodePage = GetConsoleCP();
  terminal.SavedOutCodePage = GetConsoleOutputCP();
  if (terminal.HangUp == nullptr) terminal.HangUp = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (terminal.HangUp == nullptr) return false;
  terminal.RawActive = true;
  if (!SetConsoleMode(terminal.In, ENABLE_PROCESSED_INPUT)) {
    RestoreConsole();
    return false;
  }
  SetConsoleMode(terminal.Out, terminal.SavedOutMode | ENABLE_PROCESSED_OUTPUT |
                                   ENABLE_VIRTUAL_TERMINAL_PROCESSING);
  SetConsoleCP(CP_UTF8);
  SetConsoleOutputCP(CP_UTF8);
  if (!terminal.Handled) terminal.Handled = SetConsoleCtrlHandler(OnConsoleEvent, TRUE) != 0;
  return true;
}

// After a hang-up the handler stays: a second close must not end the run before its result is
// recorded.
void LeaveRawMode() {
  RestoreConsole();
  if (terminal.Handled && !terminal.HungUp) {
    SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
    terminal.Handled = false;
  }
}

int ReadByte(int timeoutMs) {
  if (terminal.RawActive || terminal.HungUp) return ReadConsoleKey(timeoutMs);
  return ReadStreamByte();
}

void WriteOut(std::string_view bytes) {
  if (std::fflush(stdout) != 0) OutputFailed();
  if (terminal.HungUp) return;
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  while (!bytes.empty()) {
    DWORD written = 0;
    if (!WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr)) {
      if (terminal.HungUp) return;
      ConsoleFailed(GetLastError(), runtime::IoDirection::kWrite);
    }
    bytes.remove_prefix(written);
  }
}

void FlushOutput() {
  if (std::fflush(stdout) != 0) OutputFailed();
}

}  // namespace console
