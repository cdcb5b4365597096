#include "console/console.h"

#include <algorithm>
#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "console/terminal.h"

// The console side of the program: clearing the terminal at start-up and reading the player's
// name at the end. On a terminal the name is typed into a small line editor running in raw mode;
// from a pipe or file a line is read as it comes. The editor moves and overwrites whole UTF-8
// characters, so that what the player sees is what is stored; a byte that is not part of a valid
// UTF-8 sequence counts as one character. The name itself is kept as bytes. What differs between
// operating systems is in terminal.h's functions, one file per system (console_posix.cpp,
// console_windows.cpp).

namespace console {
namespace {

constexpr int kEditorWidth = 254;     // bytes the name line editor accepts
constexpr int kEscapeTimeoutMs = 50;  // how long a lone Escape waits for the rest of a sequence

// Bytes read ahead while decoding a character that turned out not to belong to it.
std::string readBack;

// One byte from standard input (0..255), kReadEnd, or kReadTimeout when timeoutMs (not negative)
// passed without input.
int NextByte(int timeoutMs = -1) {
  if (!readBack.empty()) {
    const auto byte = static_cast<unsigned char>(readBack.front());
    readBack.erase(0, 1);
    return byte;
  }
  return ReadByte(timeoutMs);
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
  std::string Char{};  // the bytes of one character
};

// How many bytes the UTF-8 sequence starting with `lead` should have; 1 for a byte that cannot
// start one.
int SequenceLength(unsigned char lead) {
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 1;
}

// Whether `byte` may follow `lead` as the byte at `index` (from 1) of its sequence. The second
// byte's narrower ranges rule out overlong forms, surrogates and code points above 10FFFF.
bool Continues(unsigned char lead, int index, unsigned char byte) {
  if (index == 1) {
    if (lead == 0xE0) return byte >= 0xA0 && byte <= 0xBF;
    if (lead == 0xED) return byte >= 0x80 && byte <= 0x9F;
    if (lead == 0xF0) return byte >= 0x90 && byte <= 0xBF;
    if (lead == 0xF4) return byte >= 0x80 && byte <= 0x8F;
  }
  return byte >= 0x80 && byte <= 0xBF;
}

// The rest of a character whose first byte has been read. The bytes of one character arrive
// together; a sequence cut short or broken leaves its first byte as a character of its own, and
// the bytes read after it are read again as what they are.
std::string ReadCharacter(unsigned char lead) {
  std::string bytes(1, static_cast<char>(lead));
  const int length = SequenceLength(lead);
  for (int index = 1; index < length; ++index) {
    const int next = NextByte(kEscapeTimeoutMs);
    if (next >= 0) bytes.push_back(static_cast<char>(next));
    if (next < 0 || !Continues(lead, index, static_cast<unsigned char>(next))) {
      readBack = bytes.substr(1) + readBack;
      return bytes.substr(0, 1);
    }
  }
  return bytes;
}

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
    const int byte = NextByte(kEscapeTimeoutMs);
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
  const int next = NextByte(kEscapeTimeoutMs);
  if (next == kReadTimeout || next == kReadEnd) return {EditKey::kErase};
  if (next == '[') return ReadControlSequence();
  if (next != 'O') return {};
  const int letter = NextByte(kEscapeTimeoutMs);
  if (letter == 'M') return {EditKey::kEnter};
  if (const char c = KeypadCharacter(letter)) return {EditKey::kChar, std::string(1, c)};
  return {CursorKey(letter)};
}

KeyPress ReadEditKey() {
  const int byte = NextByte();
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
      return {EditKey::kChar, ReadCharacter(static_cast<unsigned char>(byte))};
  }
}

// The code point of a valid multi-byte character, or -1 for a single byte.
int CodePoint(std::string_view ch) {
  if (ch.size() < 2) return -1;
  const auto lead = static_cast<unsigned char>(ch[0]);
  int value = lead & (0x7F >> ch.size());
  for (std::size_t i = 1; i < ch.size(); ++i) value = (value << 6) | (ch[i] & 0x3F);
  return value;
}

struct Range {
  int First, Last;
};

// Marks that combine with the character before them and take no column of their own.
constexpr std::array<Range, 9> kCombining = {{{0x0300, 0x036F},
                                              {0x0483, 0x0489},
                                              {0x0591, 0x05BD},
                                              {0x1AB0, 0x1AFF},
                                              {0x1DC0, 0x1DFF},
                                              {0x200B, 0x200F},
                                              {0x20D0, 0x20FF},
                                              {0xFE00, 0xFE0F},
                                              {0xFE20, 0xFE2F}}};
// East Asian wide characters and pictographs, which take two columns.
constexpr std::array<Range, 13> kWide = {{{0x1100, 0x115F},
                                          {0x2E80, 0x303E},
                                          {0x3041, 0x4DBF},
                                          {0x4E00, 0xA4CF},
                                          {0xAC00, 0xD7A3},
                                          {0xF900, 0xFAFF},
                                          {0xFE30, 0xFE4F},
                                          {0xFF00, 0xFF60},
                                          {0xFFE0, 0xFFE6},
                                          {0x1F300, 0x1F64F},
                                          {0x1F900, 0x1F9FF},
                                          {0x20000, 0x2FFFD},
                                          {0x30000, 0x3FFFD}}};

bool InRanges(int value, const auto& ranges) {
  return std::any_of(ranges.begin(), ranges.end(),
                     [value](const Range& r) { return value >= r.First && value <= r.Last; });
}

// Terminal columns a character takes; a byte that is not valid UTF-8 shows as one.
int Columns(std::string_view ch) {
  const int value = CodePoint(ch);
  if (value < 0) return 1;
  if (InRanges(value, kCombining)) return 0;
  return InRanges(value, kWide) ? 2 : 1;
}

// The typed line as whole characters up to the furthest position typed; the cursor counts
// characters, the cap counts bytes.
struct EditLine {
  std::vector<std::string> Chars;
  std::size_t Cursor = 0;
  std::size_t Bytes = 0;
};

std::string Join(const EditLine& line, std::size_t from) {
  std::string bytes;
  for (std::size_t i = from; i < line.Chars.size(); ++i) bytes += line.Chars[i];
  return bytes;
}

int Width(const EditLine& line, std::size_t from, std::size_t to) {
  int columns = 0;
  for (std::size_t i = from; i < to; ++i) columns += Columns(line.Chars[i]);
  return columns;
}

std::string Back(int columns) {
  return std::string(static_cast<std::size_t>(std::max(columns, 0)), '\b');
}

// After a change from character `from` on, with the terminal's cursor at column `shownAt` and
// `oldColumns` shown in all: rewrites the line from `from`, blanks what it no longer covers and
// puts the terminal's cursor back where the editor's is.
std::string Redraw(const EditLine& line, std::size_t from, int shownAt, int oldColumns) {
  const int columns = Width(line, 0, line.Chars.size());
  const int blank = std::max(oldColumns - columns, 0);
  return Back(shownAt - Width(line, 0, from)) + Join(line, from) +
         std::string(static_cast<std::size_t>(blank), ' ') +
         Back(columns + blank - Width(line, 0, line.Cursor));
}

// Overwrites the character at the cursor, or appends; refused when the bytes would pass the cap.
// A character of another width shifts what follows on the screen, and a combining mark belongs
// to the character before it, so those cases redraw.
std::string Type(EditLine& line, const std::string& ch) {
  const std::size_t at = line.Cursor;
  const bool appends = at == line.Chars.size();
  const std::string old = appends ? std::string() : line.Chars[at];
  if (line.Bytes - old.size() + ch.size() > kEditorWidth) return {};
  const int shownAt = Width(line, 0, at);
  const int oldColumns = Width(line, 0, line.Chars.size());
  if (appends) {
    line.Chars.push_back(ch);
  } else {
    line.Chars[at] = ch;
  }
  line.Bytes = line.Bytes - old.size() + ch.size();
  ++line.Cursor;
  if (appends || (Columns(old) == Columns(ch) && Columns(ch) > 0)) return ch;
  const bool combining = Columns(old) == 0 || Columns(ch) == 0;
  return Redraw(line, combining && at > 0 ? at - 1 : at, shownAt, oldColumns);
}

// Only at the end of the text; a combining mark is taken off by redrawing the character it sat on.
std::string Backspace(EditLine& line) {
  const std::size_t count = line.Chars.size();
  if (line.Cursor != count || count == 0) return {};
  const int oldColumns = Width(line, 0, count);
  const bool combining = Columns(line.Chars.back()) == 0;
  line.Bytes -= line.Chars.back().size();
  line.Chars.pop_back();
  line.Cursor = line.Chars.size();
  const std::size_t from = combining && count > 1 ? count - 2 : count - 1;
  return Redraw(line, from, oldColumns, oldColumns);
}

// Applies one key and answers what to echo for it.
std::string Edit(EditLine& line, const KeyPress& key) {
  std::string echo;
  switch (key.Kind) {
    case EditKey::kChar:
      echo = Type(line, key.Char);
      break;
    case EditKey::kBackspace:
      echo = Backspace(line);
      break;
    case EditKey::kLeft:
      if (line.Cursor > 0) echo = Back(Columns(line.Chars[--line.Cursor]));
      break;
    case EditKey::kRight:
      if (line.Cursor < line.Chars.size()) echo = line.Chars[line.Cursor++];
      break;
    case EditKey::kHome:
      echo = Back(Width(line, 0, line.Cursor));
      line.Cursor = 0;
      break;
    case EditKey::kEnd:
      echo = Join(line, line.Cursor);
      line.Cursor = line.Chars.size();
      break;
    case EditKey::kErase:
      echo = Join(line, line.Cursor);
      for (int i = Width(line, 0, line.Chars.size()); i > 0; --i) echo += "\b \b";
      line = EditLine{};
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
  return ShortString(Join(line, 0));
}

// A pipe, a file, or a terminal that could not be switched to raw mode (it then echoes and edits
// the line itself). The rest of an overlong line is consumed; a CR before the LF is dropped.
ShortString ReadPlainLine() {
  std::string text;
  std::size_t total = 0;
  for (int byte = NextByte(); byte != kReadEnd && byte != '\n'; byte = NextByte()) {
    if (text.size() < ShortString::kCapacity) text.push_back(static_cast<char>(byte));
    ++total;
  }
  if (total == text.size() && !text.empty() && text.back() == '\r') text.pop_back();
  return ShortString(text);
}

}  // namespace
}  // namespace console

// Program start-up: blanks the terminal and homes the cursor; writes nothing into a pipe or file.
void ClrScr() {
  if (console::OutputIsTerminal()) console::WriteOut("\x1b[H\x1b[2J");
}

// The name dialogue at the end of a run; the terminal's mode is restored on every way out.
ShortString ReadLine() {
  console::FlushOutput();
  if (!console::InputIsTerminal() || !console::EnterRawMode()) return console::ReadPlainLine();
  const ShortString name = console::EditName();
  console::LeaveRawMode();
  return name;
}
