#pragma once

// Key, text and mouse translation: plain functions of SDL's events, which need no display.

#include <SDL_events.h>
#include <SDL_rect.h>

#include <array>
#include <cstdint>

#include "gfx/graph.h"
#include "gfx/platform/platform.h"

namespace gfx::sdl {

// The layer's key for SDL's: the cursor block, F1 to F10, the modifiers, and the keypad's cursor
// keys while Num Lock is off; kOther for the rest.
Key KeyOf(const SDL_Keysym& keysym);
// The character of a key whose character SDL's text input drops: a control character. With Ctrl
// held, as on the classic platform, letters give 1 to 26, [ \ ] give 27 to 29, Enter a line feed
// and Backspace a delete; with Alt held as well (AltGr on some keyboards) Ctrl counts for nothing.
// Alt alone changes no character: Alt+letter is the letter, as Shift+Tab is the Tab character.
// 0 for every other key: its character, if any, comes as text input.
std::uint8_t ControlCharacter(const SDL_Keysym& keysym);
// The message of a key press or an auto-repeat.
KeyMessage KeyDownMessage(const SDL_Keysym& keysym);

// The characters of one text input event: one per code point of its UTF-8 text, carrying the
// code point's low 8 bits.
inline constexpr int kMaxTextCharacters = SDL_TEXTINPUTEVENT_TEXT_SIZE;
struct TextCharacters {
  std::array<std::uint8_t, kMaxTextCharacters> Chars{};
  int Count = 0;
};
TextCharacters CharactersOf(const char* text);

// The mouse slot's message for a button event, with the position in the client area; false for
// buttons the classic window does not report (side buttons).
bool MouseMessageOf(const SDL_MouseButtonEvent& event, bool doubleClicks, MouseMessage& message);
// The picture pixel under a window pixel, for a picture of pictureWidth x pictureHeight that the
// window shows at area (as the presenters fit it): the one whose colour that window pixel shows;
// in the black around the picture, a position beyond its edges.
SDL_Point PicturePixel(SDL_Point windowPixel, const SDL_Rect& area, int pictureWidth,
                       int pictureHeight);
// A position as the mouse slot holds it: clamped to 16 bits.
std::int16_t Coordinate(int value);

}  // namespace gfx::sdl
