#pragma once

#include "game/snake.h"

// Runs one game on the caller's freshly initialised snake: the countdown, the ticks until ESC,
// a collision or a full board, and the end screen that waits for ESC. Called by the menu.
void Play(TSnake& S);

// Draws the frame around the playing area in colour 19, solid and 3 pixels thick; leaves the
// colour at 19 and the thickness back at 1.
void ShowBoard();
