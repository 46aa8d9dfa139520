#include "desktop/progman_commands.h"

#include "engine/shared.h"

namespace {

struct ProgmanStep {
  const char* command;   // %s stands for the destination folder
  const char* oldShell;  // the form without the new shell, or null when the same
  int abortOnFailure;
};

// ReplaceItem goes before each AddItem so that an item of an earlier installation is
// replaced; there is none the first time, so its refusal is ignored.
const ProgmanStep STEPS[PROGMAN_COMMAND_COUNT] = {
    {"[CreateGroup(\"Vexa\")]", nullptr, 1},
    {"[ShowGroup(\"Vexa\",1)]", nullptr, 0},
    {"[ReplaceItem(\"Vexa32\")]", nullptr, 0},
    {"[AddItem(\"%s\\Vexa32.exe\",\"Vexa32\",,0,,,\"%s\")]", nullptr, 1},
    {"[ReplaceItem(\"Vexa Help\")]", nullptr, 0},
    {"[AddItem(\"%s\\Vexa.hlp\",\"Vexa Help\",,0,,,\"%s\")]", nullptr, 1},
    {"[ReplaceItem(\"Quick Primer\")]", nullptr, 0},
    {"[AddItem(\"%s\\Primer.hlp\",\"Quick Primer\",,0,,,\"%s\")]", nullptr, 1},
    {"[ReplaceItem(\"About.txt\")]", nullptr, 0},
    {"[AddItem(\"%s\\about.txt\",\"About.txt\",,,,,\"%s\")]",
     "[AddItem(\"%s\\about.txt\",\"About.txt\",\"write.exe\",0,,,\"%s\")]", 1},
    {"[ReplaceItem(\"History.txt\")]", nullptr, 0},
    {"[AddItem(\"%s\\history.txt\",\"History.txt\",,,,,\"%s\")]",
     "[AddItem(\"%s\\history.txt\",\"History.txt\",\"write.exe\",0,,,\"%s\")]", 1},
};

}  // namespace

int FormatProgmanCommand(int step, const char* folder, int newShell, char* text, int size) {
  const ProgmanStep& s = STEPS[step];
  const char* pattern = !newShell && s.oldShell != nullptr ? s.oldShell : s.command;
  char piece[2] = {0, 0};
  CopyText(text, size, "");
  for (const char* p = pattern; *p != '\0'; p++) {
    if (p[0] == '%' && p[1] == 's') {
      AppendText(text, size, folder);
      p++;
    } else {
      piece[0] = *p;
      AppendText(text, size, piece);
    }
  }
  return s.abortOnFailure;
}
