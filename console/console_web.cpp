#include <cstdio>
#include <string_view>

#include "console/console.h"

// The console of a web page: the page's text area, which shows standard output and standard
// error (library_console.js). The name is typed into a text field there that keeps to the line
// editor's limits, 254 bytes of whole UTF-8 characters; the program sleeps until Enter.

extern "C" {
void snake_web_console_clear();
int snake_web_await_line(char* buffer, int size);
}

namespace {

constexpr int kEditorWidth = 254;  // bytes the name field accepts

}  // namespace

// Program start-up: the page's text area is emptied.
void ClrScr() {
  snake_web_console_clear();
}

// The name dialogue at the end of a run: what was written so far (the prompt) stays, the field
// follows it, and what was typed stays in its place once Enter is pressed.
ShortString ReadLine() {
  std::fflush(stdout);
  char typed[kEditorWidth];
  const int length = snake_web_await_line(typed, kEditorWidth);
  return ShortString(std::string_view(typed, static_cast<std::size_t>(length)));
}
