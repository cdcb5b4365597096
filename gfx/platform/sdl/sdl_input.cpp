#include "gfx/platform/sdl/sdl_input.h"

#include <algorithm>

// SDL's key, text and mouse events in the layer's terms, as the classic platform gives them.

namespace gfx::sdl {
namespace {

// Keypad keys without Num Lock act as the cursor block; with it they type digits.
Key KeypadKey(SDL_Keycode key) {
  switch (key) {
    case SDLK_KP_8:
      return Key::kUp;
    case SDLK_KP_2:
      return Key::kDown;
    case SDLK_KP_4:
      return Key::kLeft;
    case SDLK_KP_6:
      return Key::kRight;
    case SDLK_KP_7:
      return Key::kHome;
    case SDLK_KP_1:
      return Key::kEnd;
    case SDLK_KP_9:
      return Key::kPageUp;
    case SDLK_KP_3:
      return Key::kPageDown;
    case SDLK_KP_0:
      return Key::kInsert;
    case SDLK_KP_PERIOD:
      return Key::kDelete;
    default:
      return Key::kOther;
  }
}

// The buttons the classic window reports; others (side buttons) are not passed on.
bool ButtonOf(Uint8 sdlButton, MouseButton& button) {
  switch (sdlButton) {
    case SDL_BUTTON_LEFT:
      button = MouseButton::kLeft;
      return true;
    case SDL_BUTTON_RIGHT:
      button = MouseButton::kRight;
      return true;
    case SDL_BUTTON_MIDDLE:
      button = MouseButton::kMiddle;
      return true;
    default:
      return false;
  }
}

// Rounds towards minus infinity, so that the black left of and above the picture maps to
// negative positions.
int FloorDiv(long long n, long long d) {
  return static_cast<int>(n >= 0 ? n / d : -((-n + d - 1) / d));
}

}  // namespace

std::int16_t Coordinate(int value) {
  return static_cast<std::int16_t>(std::clamp(value, -32768, 32767));
}

Key KeyOf(const SDL_Keysym& keysym) {
  switch (keysym.sym) {
    case SDLK_UP:
      return Key::kUp;
    case SDLK_DOWN:
      return Key::kDown;
    case SDLK_LEFT:
      return Key::kLeft;
    case SDLK_RIGHT:
      return Key::kRight;
    case SDLK_HOME:
      return Key::kHome;
    case SDLK_END:
      return Key::kEnd;
    case SDLK_PAGEUP:
      return Key::kPageUp;
    case SDLK_PAGEDOWN:
      return Key::kPageDown;
    case SDLK_INSERT:
      return Key::kInsert;
    case SDLK_DELETE:
      return Key::kDelete;
    case SDLK_F1:
      return Key::kF1;
    case SDLK_F2:
      return Key::kF2;
    case SDLK_F3:
      return Key::kF3;
    case SDLK_F4:
      return Key::kF4;
    case SDLK_F5:
      return Key::kF5;
    case SDLK_F6:
      return Key::kF6;
    case SDLK_F7:
      return Key::kF7;
    case SDLK_F8:
      return Key::kF8;
    case SDLK_F9:
      return Key::kF9;
    case SDLK_F10:
      return Key::kF10;
    case SDLK_LSHIFT:
    case SDLK_RSHIFT:
      return Key::kShift;
    case SDLK_LCTRL:
    case SDLK_RCTRL:
      return Key::kCtrl;
    case SDLK_LALT:
    case SDLK_RALT:
      return Key::kAlt;
    default:
      return (keysym.mod & KMOD_NUM) != 0 ? Key::kOther : KeypadKey(keysym.sym);
  }
}

std::uint8_t ControlCharacter(const SDL_Keysym& keysym) {
  const bool ctrl = (keysym.mod & KMOD_CTRL) != 0 && (keysym.mod & (KMOD_ALT | KMOD_MODE)) == 0;
  switch (keysym.sym) {
    case SDLK_RETURN:
    case SDLK_KP_ENTER:
      return ctrl ? 10 : 13;
    case SDLK_ESCAPE:
      return 27;
    case SDLK_BACKSPACE:
      return ctrl ? 127 : 8;
    case SDLK_TAB:
      return 9;
    default:
      break;
  }
  if (!ctrl) return 0;
  if (keysym.sym >= SDLK_a && keysym.sym <= SDLK_z) {
    return static_cast<std::uint8_t>(keysym.sym - SDLK_a + 1);
  }
  switch (keysym.sym) {
    case SDLK_LEFTBRACKET:
      return 27;
    case SDLK_BACKSLASH:
      return 28;
    case SDLK_RIGHTBRACKET:
      return 29;
    default:
      return 0;
  }
}

// Every press and every auto-repeat: a control character, or the key for the keyboard's table.
// Printable characters come only from text input, or a letter would be queued twice.
KeyMessage KeyDownMessage(const SDL_Keysym& keysym) {
  if (const std::uint8_t control = ControlCharacter(keysym); control != 0) {
    return KeyMessage{KeyEvent::kChar, Key::kOther, control};
  }
  return KeyMessage{KeyEvent::kKeyDown, KeyOf(keysym)};
}

// A code point's bytes run on while they are continuation bytes; a sequence cut short gives what
// it has.
TextCharacters CharactersOf(const char* text) {
  TextCharacters characters;
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  for (std::size_t i = 0; bytes[i] != 0 && characters.Count < kMaxTextCharacters;) {
    const unsigned char lead = bytes[i++];
    const int more = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
    std::uint32_t code = more == 0 ? lead : lead & (0x3Fu >> more);
    for (int k = 0; k < more && (bytes[i] & 0xC0) == 0x80; ++k)
      code = code << 6 | (bytes[i++] & 0x3F);
    characters.Chars[characters.Count++] = static_cast<std::uint8_t>(code & 0xFF);
  }
  return characters;
}

// SDL counts the presses of a quick series: with double clicks on, every second one is a double
// click (a third press starts a new pair, as on the classic platform).
bool MouseMessageOf(const SDL_MouseButtonEvent& event, bool doubleClicks, MouseMessage& message) {
  MouseButton button;
  if (!ButtonOf(event.button, button)) return false;
  MouseAction action = MouseAction::kUp;
  if (event.state == SDL_PRESSED) {
    action = doubleClicks && event.clicks % 2 == 0 ? MouseAction::kDoubleClick : MouseAction::kDown;
  }
  message = MouseMessage{action, button, Coordinate(event.x), Coordinate(event.y)};
  return true;
}

// The window pixel's centre, as the presenters sample a shrunk picture; for a whole factor the
// block it lies in.
SDL_Point PicturePixel(SDL_Point windowPixel, const SDL_Rect& area, int pictureWidth,
                       int pictureHeight) {
  if (area.w <= 0 || area.h <= 0) return windowPixel;
  return SDL_Point{FloorDiv((2LL * (windowPixel.x - area.x) + 1) * pictureWidth, 2LL * area.w),
                   FloorDiv((2LL * (windowPixel.y - area.y) + 1) * pictureHeight, 2LL * area.h)};
}

}  // namespace gfx::sdl
