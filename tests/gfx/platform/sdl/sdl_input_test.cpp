#include "gfx/platform/sdl/sdl_input.h"

#include <gtest/gtest.h>

#include <vector>

#include "gfx/platform/sdl/presenter.h"

// What the real-window tests cannot type through Xvfb's keyboard: Num Lock on, AltGr, buttons
// beyond the third, text beyond Latin-1, positions past 16 bits. No display is needed.

namespace {

using gfx::Key;

SDL_Keysym Keysym(SDL_Keycode sym, Uint16 mod = KMOD_NONE) {
  SDL_Keysym keysym{};
  keysym.sym = sym;
  keysym.mod = mod;
  return keysym;
}

TEST(SdlInputTest, TheKeypadIsTheCursorBlockOnlyWhileNumLockIsOff) {
  EXPECT_EQ(gfx::sdl::KeyOf(Keysym(SDLK_KP_8)), Key::kUp);
  EXPECT_EQ(gfx::sdl::KeyOf(Keysym(SDLK_KP_PERIOD)), Key::kDelete);
  // With Num Lock the keypad types digits, which come as text input: no key of the table.
  EXPECT_EQ(gfx::sdl::KeyOf(Keysym(SDLK_KP_8, KMOD_NUM)), Key::kOther);
  EXPECT_EQ(gfx::sdl::KeyOf(Keysym(SDLK_KP_0, KMOD_NUM)), Key::kOther);
  // The arrows themselves do not depend on Num Lock, nor the right-hand modifiers on their side.
  EXPECT_EQ(gfx::sdl::KeyOf(Keysym(SDLK_UP, KMOD_NUM)), Key::kUp);
  EXPECT_EQ(gfx::sdl::KeyOf(Keysym(SDLK_RCTRL)), Key::kCtrl);
  EXPECT_EQ(gfx::sdl::KeyOf(Keysym(SDLK_RALT)), Key::kAlt);
}

// AltGr arrives as Ctrl+Alt on some keyboards: its letters must not turn into control characters
// (the AltGr character follows as text input), while Ctrl alone gives the classic codes.
TEST(SdlInputTest, CtrlGivesControlCharactersUnlessAltGoesWithIt) {
  EXPECT_EQ(gfx::sdl::ControlCharacter(Keysym(SDLK_q, KMOD_LCTRL)), 17);
  EXPECT_EQ(gfx::sdl::ControlCharacter(Keysym(SDLK_BACKSLASH, KMOD_RCTRL)), 28);
  EXPECT_EQ(gfx::sdl::ControlCharacter(Keysym(SDLK_RIGHTBRACKET, KMOD_LCTRL)), 29);
  EXPECT_EQ(gfx::sdl::ControlCharacter(Keysym(SDLK_q, KMOD_LCTRL | KMOD_RALT)), 0);
  EXPECT_EQ(gfx::sdl::ControlCharacter(Keysym(SDLK_q, KMOD_LCTRL | KMOD_MODE)), 0);
  EXPECT_EQ(gfx::sdl::ControlCharacter(Keysym(SDLK_KP_ENTER, KMOD_LCTRL | KMOD_LALT)), 13);
  EXPECT_EQ(gfx::sdl::ControlCharacter(Keysym(SDLK_q)), 0);

  const gfx::KeyMessage control = gfx::sdl::KeyDownMessage(Keysym(SDLK_z, KMOD_LCTRL));
  EXPECT_EQ(control.Event, gfx::KeyEvent::kChar);
  EXPECT_EQ(control.Char, 26);
  const gfx::KeyMessage f5 = gfx::sdl::KeyDownMessage(Keysym(SDLK_F5, KMOD_LCTRL));
  EXPECT_EQ(f5.Event, gfx::KeyEvent::kKeyDown);
  EXPECT_EQ(f5.Code, Key::kF5);
}

// One character per code point, its low 8 bits: Latin-1 as itself, others wrapped.
TEST(SdlInputTest, TextInputGivesOneCharacterPerCodePoint) {
  const gfx::sdl::TextCharacters text =
      gfx::sdl::CharactersOf("a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x90\x8D!");
  ASSERT_EQ(text.Count, 5);
  EXPECT_EQ(text.Chars[0], 'a');
  EXPECT_EQ(text.Chars[1], 0xE9);  // U+00E9
  EXPECT_EQ(text.Chars[2], 0xAC);  // U+20AC
  EXPECT_EQ(text.Chars[3], 0x0D);  // U+1F40D
  EXPECT_EQ(text.Chars[4], '!');
}

TEST(SdlInputTest, OnlyTheThreeClassicButtonsReachTheMouseSlot) {
  SDL_MouseButtonEvent event{};
  event.state = SDL_PRESSED;
  event.x = 40000;
  event.y = -40000;
  MouseMessage message{};
  event.button = SDL_BUTTON_X1;
  EXPECT_FALSE(gfx::sdl::MouseMessageOf(event, true, message));

  event.button = SDL_BUTTON_MIDDLE;
  event.clicks = 2;
  ASSERT_TRUE(gfx::sdl::MouseMessageOf(event, true, message));
  EXPECT_EQ(message.Button, MouseButton::kMiddle);
  EXPECT_EQ(message.Action, MouseAction::kDoubleClick);
  EXPECT_EQ(message.X, 32767);
  EXPECT_EQ(message.Y, -32768);
  ASSERT_TRUE(gfx::sdl::MouseMessageOf(event, false, message));
  EXPECT_EQ(message.Action, MouseAction::kDown);
}

}  // namespace

// Where the picture lies in a window of any size, and the picture pixel a click there lands on:
// the one whose colour the window pixel shows, beyond the picture's edges in the black around it.
TEST(SdlInputTest, AClickLandsOnThePicturePixelThatTheWindowShowsThere) {
  using gfx::sdl::FitPicture;
  using gfx::sdl::PicturePixel;
  const auto area = [](const gfx::sdl::PictureFit& fit) {
    return std::vector<int>{fit.Area.x, fit.Area.y, fit.Area.w, fit.Area.h, fit.Block};
  };
  EXPECT_EQ(area(FitPicture(640, 480, 640, 480)), (std::vector<int>{0, 0, 640, 480, 1}));
  EXPECT_EQ(area(FitPicture(640, 480, 1300, 1000)), (std::vector<int>{10, 20, 1280, 960, 2}));
  EXPECT_EQ(area(FitPicture(640, 480, 1919, 1440)), (std::vector<int>{319, 240, 1280, 960, 2}));
  EXPECT_EQ(area(FitPicture(640, 480, 400, 200)), (std::vector<int>{67, 0, 266, 200, 0}));
  EXPECT_EQ(area(FitPicture(640, 480, 100, 400)), (std::vector<int>{0, 162, 100, 75, 0}));
  EXPECT_EQ(area(FitPicture(0, 0, 640, 480)), (std::vector<int>{0, 0, 0, 0, 0}));

  const SDL_Rect twice{10, 20, 1280, 960};
  EXPECT_EQ(PicturePixel({10, 20}, twice, 640, 480).x, 0);
  EXPECT_EQ(PicturePixel({1289, 979}, twice, 640, 480).y, 479);
  EXPECT_EQ(PicturePixel({13, 23}, twice, 640, 480).x, 1);
  EXPECT_EQ(PicturePixel({9, 19}, twice, 640, 480).x, -1) << "left of the picture";
  EXPECT_EQ(PicturePixel({9, 19}, twice, 640, 480).y, -1) << "above it";
  EXPECT_EQ(PicturePixel({1290, 980}, twice, 640, 480).x, 640) << "right of it";
  const SDL_Rect shrunk{67, 0, 266, 200};
  EXPECT_EQ(PicturePixel({67, 0}, shrunk, 640, 480).x, 1);  // the first column's centre
  EXPECT_EQ(PicturePixel({332, 199}, shrunk, 640, 480).x, 638);
  EXPECT_EQ(PicturePixel({332, 199}, shrunk, 640, 480).y, 478);
}
