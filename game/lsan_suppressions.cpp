// Built into the game only when it is built with the address sanitizer: outside the test harness
// nobody sets LSAN_OPTIONS, so the leak checker takes its suppressions from here. The same
// entries, with their reasons, are in tools/sanitizers/lsan.supp; keep the two lists equal.
//
// libdbus: with no session bus address set, SDL's D-Bus start-up autolaunches a bus through the
// X display, and libdbus keeps a buffer from that for the life of the process (1032 bytes).
// libSDL2: after another client destroys the window, SDL is kept up to the end, and the
// per-thread state it made for the ended window thread is never freed.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libdbus-1.so\n"
         "leak:libSDL2-2.0.so\n";
}
