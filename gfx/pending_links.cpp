// Weak stand-ins for symbols that colleagues' files define, so that the library's users link
// while those files are being written. Each strong definition replaces its stand-in; this file
// goes away once they have all landed. Nothing here behaves: it only links.

#include <cstdio>
#include <cstdlib>

#include "gfx/context.h"
#include "gfx/platform.h"

namespace gfx {

[[gnu::weak]] std::int32_t MsgHandler(const KeyMessage&) {
  return 0;
}
[[gnu::weak]] void KeySourceOpened() {}
[[gnu::weak]] void KeySourceClosed(bool) {}
[[gnu::weak]] void ResetTextCaches() {}
[[gnu::weak]] void WindowOutTextXY(std::int16_t, std::int16_t, std::string_view) {}

[[gnu::weak]] WindowPlatform& SdlPlatform() {
  std::fputs("the window platform is not linked in\n", stderr);
  std::abort();
}

}  // namespace gfx
