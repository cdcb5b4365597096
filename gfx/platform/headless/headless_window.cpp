#include "gfx/platform/headless/headless_window.h"

#include "gfx/inspect.h"

namespace gfx {
namespace {

// No window and no thread: opening makes and paints the backing image at once, on the caller's
// thread, and the desktop is whatever the tests chose.
class HeadlessWindowPlatform final : public WindowPlatform {
 public:
  void SetDesktop(DesktopSize desktop) { desktop_ = desktop; }

  DesktopSize Desktop() override { return desktop_; }

  bool Open(const WindowRequest& request) override {
    open_ = true;
    OnWindowCreated(request.Width * request.Scale, request.Height * request.Scale);
    RunWindowCreationHook();
    OnWindowPainted();
    return true;
  }

  void Wake() override { DropReadyPicture(); }

  void Close() override {
    if (!open_) return;
    open_ = false;
    OnWindowDestroyed();
  }

  // As if the player closed the window: it goes away while graphics mode goes on.
  void LoseWindow() { Close(); }

 private:
  DesktopSize desktop_;
  bool open_ = false;
};

HeadlessWindowPlatform& Headless() {
  static HeadlessWindowPlatform platform;
  return platform;
}

}  // namespace

WindowPlatform& HeadlessPlatform() {
  return Headless();
}

void UseHeadlessPlatform(DesktopSize desktop) {
  Headless().SetDesktop(desktop);
  SelectPlatform(Headless());
}

}  // namespace gfx

namespace gfx::inspect {

void SimulateWindowClose() {
  if (&Platform() == &Headless()) Headless().LoseWindow();
}

}  // namespace gfx::inspect
