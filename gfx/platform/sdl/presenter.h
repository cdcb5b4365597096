#pragma once

// Presenting the backing image in the window: straight through the X connection (X11 with an RGB
// visual), through the window's software surface (other X11 visuals), in shared-memory buffers
// of our own (Wayland), or through SDL's renderer where the compositor takes none of those. The
// window thread presents; on X11 and Wayland the program's thread may too, never at the same
// time.

#include <SDL.h>

#include <memory>

#include "gfx/platform/sdl/staging_image.h"

namespace gfx::sdl {

class Presenter {
 public:
  virtual ~Presenter() = default;
  // Shows what changed in the backing image, or all of it (black around it where the window is
  // of another size).
  virtual void Present(bool full) = 0;
  // Whether the display's connection holds events it has already read (while presenting), which
  // a poll of the connection would not see. Where the presenter knows the connection, an answer
  // of false readies it for that poll, and AfterPoll follows the poll.
  virtual bool EventsWaiting() { return false; }
  virtual void AfterPoll() {}
  // The socket of the display's connection, for a window thread that polls it itself beside its
  // wake; -1 where only SDL's own wait knows what to wait for.
  virtual int Connection() { return -1; }
  // Whether the next Present may run on another thread than the one that owns SDL, while that
  // one sleeps in its poll: it then only sends to the display (no round trip, nothing it waits
  // for) and never calls SDL's event machinery.
  virtual bool PresentsFromAnyThread() { return false; }
  // After such a present: whether it read events off the connection that the poll will not see.
  virtual bool ReadWhilePresenting() { return false; }
};

// Where a window of windowWidth x windowHeight pixels shows a picture of pictureWidth x
// pictureHeight, centred with its aspect kept: grown by the largest whole factor that fits, each
// picture pixel a square block, so that colours and edges stay exact; or, in a window smaller
// than the picture, shrunk to fit (each window pixel then shows the picture pixel under its
// centre). Black around it. The window of the picture's own size shows it 1:1.
struct PictureFit {
  SDL_Rect Area{0, 0, 0, 0};  // empty without a picture
  int Block = 0;              // the whole factor; 0 when shrunk
};
PictureFit FitPicture(int pictureWidth, int pictureHeight, int windowWidth, int windowHeight);

// The picture in a window of another size, for the presenters that write the window's pixels:
// it goes first into an image of its own size, which holds what was last shown, and from there,
// scaled, into the window's pixels: whole blocks for what changed, or all of a shrunk picture
// (whose window pixels do not map to whole picture pixels).
class FittedPicture {
 public:
  // Shows what changed, or all of it and black around it when full, in the window's pixels (of
  // any format); answers the area written, empty when none.
  SDL_Rect PresentInto(SDL_Surface* window, int pictureWidth, int pictureHeight, bool full);

 private:
  StagingImage picture_;
};

// The presenter of the window's display system; nullptr when the window cannot be given anything
// to present into, which fails it like a window never created: it would never show (Wayland maps
// a window only once it has a frame).
std::unique_ptr<Presenter> MakePresenter(SDL_Window* window);
std::unique_ptr<Presenter> MakeX11Presenter(SDL_Window* window);
std::unique_ptr<Presenter> MakeSurfacePresenter(SDL_Window* window);
std::unique_ptr<Presenter> MakeWaylandPresenter(SDL_Window* window);
std::unique_ptr<Presenter> MakeRendererPresenter(SDL_Window* window);

}  // namespace gfx::sdl
