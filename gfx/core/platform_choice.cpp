#include <cassert>

#include "gfx/core/layer.h"
#include "gfx/platform/platform.h"

// Which platform the layer opens its windows on. The core knows only the interface: the platform
// is chosen from above, by the build of the layer (InitGraph) or by a test.

namespace gfx {
namespace {

// Before any choice: the stand-in desktop, and a window that never opens.
class NoPlatform final : public WindowPlatform {
 public:
  DesktopSize Desktop() override { return {}; }
  bool Open(const WindowRequest&) override { return false; }
  void Wake() override {}
  void Close() override {}
};

struct PlatformChoice {
  NoPlatform None;
  WindowPlatform* Chosen = nullptr;
  unsigned Choices = 0;
};

constinit PlatformChoice choice;

}  // namespace

WindowPlatform& Platform() {
  return choice.Chosen != nullptr ? *choice.Chosen : choice.None;
}

bool PlatformChosen() {
  return choice.Chosen != nullptr;
}

void SelectPlatform(WindowPlatform& platform) {
  assert(!Mode().IsGraphMode && "the platform changes only outside graphics mode");
  choice.Chosen = &platform;
  ++choice.Choices;
}

unsigned PlatformChoices() {
  return choice.Choices;
}

}  // namespace gfx
