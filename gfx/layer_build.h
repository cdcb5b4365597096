#pragma once

// This build of the layer: its core and text part, and the window platform its windows open on.
// InitGraph (graph.h) is defined with it.

namespace gfx {

class WindowPlatform;

// The window platform of this build: SDL's on Linux and Windows, the page's canvas on the web.
WindowPlatform& ThisPlatform();

// Makes this build's window platform the one InitGraph opens windows on again, after a program
// (a test) chose another.
void UseWindowPlatform();

}  // namespace gfx
