#pragma once

// The "Best players" screen: clears the surface, lists the table from "scores.db" in red with the
// text style the menu left, and waits for ESC. Called by the menu; never writes the file. Lets
// WindowClosed through from the wait, with the file already closed.
void ShowScores();
