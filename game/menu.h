#pragma once

#include <cstdint>

#include "game/snake.h"

// Shows the main menu, lets the player choose one item with the keyboard, runs it and returns.
// Called by the main loop while Q is false; sets Q on "Quit" and raises Scores, the run's best,
// to the last game's score when that is greater.
void Menu(TSnake& S, bool& Q, std::uint16_t& Scores);
