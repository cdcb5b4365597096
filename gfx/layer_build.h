#pragma once

// This build of the layer: its core and text part, and the window platform its windows open on.
// InitGraph (graph.h) is defined with it.

namespace gfx {

// Makes this build's window platform the one InitGraph opens windows on again, after a program
// (a test) chose another.
void UseWindowPlatform();

}  // namespace gfx
