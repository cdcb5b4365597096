#pragma once

// The console side of the program: the terminal it was started from.

#include "runtime/short_string.h"

// Clears the terminal and homes the cursor, only when standard output is a terminal.
void ClrScr();
// Reads one line from standard input with the name line editor on a terminal, or plainly from a
// pipe or file. At most 254 typed characters on a terminal, 255 kept otherwise.
ShortString ReadLine();
