// The twelve program-manager commands that make the program group, as text.
#pragma once

enum {
  PROGMAN_COMMAND_COUNT = 12,
  PROGMAN_TEXT_SIZE = 900,  // two 300-character folders and the longest command fit
};

// Formats command step (0..11) for the destination folder into text; returns 1 when the
// sequence must stop if the program manager refuses this command, 0 when a refusal is
// ignored.
int FormatProgmanCommand(int step, const char* folder, int newShell, char* text, int size);
