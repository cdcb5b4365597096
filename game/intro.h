#pragma once

// Types the presenter line and the title letter by letter, each letter in a colour of its own,
// for about 11 seconds; reads no keys. Called once by the main program before the first menu.
void Intro();
