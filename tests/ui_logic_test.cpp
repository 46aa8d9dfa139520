// The wizard's rules that need no window: folder names, centring, bars, shell test,
// licence cut, and the program manager's command texts.
#include "ui/ui_logic.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "desktop/progman_commands.h"
#include "engine/shared.h"

namespace {

TEST(FolderCompletion, AppendsTheProductFolderUnlessItIsThere) {
  const struct {
    const char* shown;
    const char* field;
  } cases[] = {
      {"c:\\", "c:\\vexa"},
      {"c:\\program files", "c:\\program files\\vexa"},
      {"C:\\Program Files", "c:\\program files\\vexa"},
      {"c:\\vexa", "c:\\vexa"},
      {"C:\\VEXA", "c:\\vexa"},
      {"c:\\tools\\vexa32", "c:\\tools\\vexa32"},
      {"c:\\old\\vexabackup", "c:\\old\\vexabackup"},
      {"c:\\games\\myvexa", "c:\\games\\myvexa\\vexa"},
      // Nothing or one character shown: the installer's own folder, in its own case.
      {"", "C:\\Downloads\\vexa"},
      {"c", "C:\\Downloads\\vexa"},
  };
  for (const auto& c : cases) {
    char text[FOLDER_TEXT_SIZE];
    CopyText(text, sizeof text, c.shown);
    CompleteFolderName(text, sizeof text, "C:\\Downloads\\setup.exe");
    EXPECT_STREQ(text, c.field) << c.shown;
  }
}

TEST(FolderCompletion, NeverWritesPastTheBuffer) {
  // 298 characters: "\vexa" does not fit in 300, so nothing is appended.
  std::string long298 = "c:\\" + std::string(295, 'd');
  char text[FOLDER_TEXT_SIZE + 8];
  std::memset(text, '#', sizeof text);
  CopyText(text, FOLDER_TEXT_SIZE, long298.c_str());
  CompleteFolderName(text, FOLDER_TEXT_SIZE, "c:\\setup.exe");
  EXPECT_EQ(std::string(text), long298);
  for (size_t k = FOLDER_TEXT_SIZE; k < sizeof text; k++) EXPECT_EQ(text[k], '#');

  std::string longOwn = "c:\\" + std::string(400, 'o') + "\\setup.exe";
  CopyText(text, FOLDER_TEXT_SIZE, "");
  CompleteFolderName(text, FOLDER_TEXT_SIZE, longOwn.c_str());
  EXPECT_LT(TextLength(text), FOLDER_TEXT_SIZE);
  for (size_t k = FOLDER_TEXT_SIZE; k < sizeof text; k++) EXPECT_EQ(text[k], '#');
}

TEST(DefaultFolder, OwnFixedDriveOrTheWindowsDrive) {
  const struct {
    const char* name;
    const char* ownPath;
    int fixed;
    const char* windows;  // null: unknown
    const char* folder;
    int drive;
  } cases[] = {
      {"fixed drive", "D:\\Downloads\\Setup.exe", 1, "C:\\WINDOWS", "d:\\vexa", -1},
      {"CD-ROM", "e:\\setup.exe", 0, "C:\\WINDOWS", "c:\\vexa", 2},
      {"network path", "\\\\server\\share\\setup.exe", 0, "C:\\WINDOWS", "c:\\vexa", 2},
      {"no Windows folder", "e:\\setup.exe", 0, nullptr, "e:\\vexa", -1},
  };
  for (const auto& c : cases) {
    char text[WORK_TEXT_SIZE];
    int drive = DefaultFolder(text, sizeof text, c.ownPath, c.fixed, c.windows);
    EXPECT_STREQ(text, c.folder) << c.name;
    EXPECT_EQ(drive, c.drive) << c.name;
  }
}

TEST(CenterWindow, CentresWithinTheMargins) {
  const struct {
    Box desktop, window;
    int32_t x, y;
  } cases[] = {
      {{0, 0, 1024, 768}, {0, 0, 400, 300}, 312, 234},
      {{0, 0, 1024, 768}, {500, 500, 501, 501}, 512, 384},
      {{0, 0, 1024, 768}, {0, 0, 1020, 300}, 1, 234},  // crosses the right margin: pulled, then 1
      {{0, 0, 1024, 768}, {0, 0, 1014, 758}, 0, 0},    // exactly at the margins: 0 stays 0
      {{0, 0, 800, 600}, {0, 0, 2000, 1000}, 1, 1},    // larger than the desktop
      {{100, 50, 900, 650}, {0, 0, 200, 100}, 400, 300},
  };
  for (const auto& c : cases) {
    int32_t x, y;
    CenterPosition(c.desktop, c.window, &x, &y);
    EXPECT_EQ(x, c.x);
    EXPECT_EQ(y, c.y);
  }
}

TEST(Bars, SplitIntoColouredAndWhiteParts) {
  Box bar = {10, 20, 170, 38};  // W = 160
  const struct {
    int32_t fill;
    int hasFill, fillRight, hasWhite, whiteLeft;
  } cases[] = {
      {0, 0, 0, 1, 11},      {80, 1, 90, 1, 90},   // columns 1..79 coloured, 80..158 white
      {158, 1, 168, 1, 168}, {159, 1, 169, 0, 0},  // W - 1: the whole band, no percentage
      {500, 1, 169, 0, 0},                         // never over the right frame column
  };
  for (const auto& c : cases) {
    BarSplit split = SplitBar(bar, c.fill);
    EXPECT_EQ(split.hasFill, c.hasFill) << c.fill;
    EXPECT_EQ(split.hasWhite, c.hasWhite) << c.fill;
    if (c.hasFill) {
      EXPECT_EQ(split.fillPart.left, 11);
      EXPECT_EQ(split.fillPart.right, c.fillRight) << c.fill;
    }
    if (c.hasWhite) {
      EXPECT_EQ(split.whitePart.left, c.whiteLeft) << c.fill;
      EXPECT_EQ(split.whitePart.right, 169);
    }
    EXPECT_EQ(split.hasFill ? split.fillPart.top : split.whitePart.top, 21);
    EXPECT_EQ(split.hasFill ? split.fillPart.bottom : split.whitePart.bottom, 37);
  }
}

TEST(Bars, FillAndPercentage) {
  const struct {
    int64_t position;
    int32_t width, size, fill;
    const char* percent;
  } cases[] = {
      {0, 160, 948224, 0, "0%"},
      {474112, 160, 948224, 80, "50%"},
      {948224, 160, 948224, 160, "100%"},
      {1, 160, 948224, 0, "0%"},
      // Past the 32-bit product: a 100 MB carrier at its middle.
      {50000000, 300, 100000000, 150, "50%"},
  };
  for (const auto& c : cases) {
    int32_t fill = InstallBarFillFor(c.position, c.width, c.size);
    EXPECT_EQ(fill, c.fill);
    char text[16];
    PercentText(text, sizeof text, fill, c.width);
    EXPECT_STREQ(text, c.percent);
  }
  EXPECT_EQ(FileBarFillFor(100, 50, 200), 25u);
  EXPECT_EQ(FileBarFillFor(100, 5, 0), 0u);
}

TEST(NewShell, ByWindowsVersion) {
  const struct {
    int major, minor, newShell;
  } cases[] = {{3, 10, 0}, {3, 51, 0}, {3, 95, 1}, {4, 0, 1}, {4, 10, 1}, {4, 90, 1},
               {5, 0, 0},  {5, 1, 0},  {6, 0, 0},  {6, 1, 0}, {6, 2, 0}};
  for (const auto& c : cases) {
    uint32_t version = (uint32_t)c.major | (uint32_t)c.minor << 8 | 0x0A280000u;
    EXPECT_EQ(NewShellFor(version), c.newShell) << c.major << "." << c.minor;
  }
}

TEST(Licence, CutAtTheFirstStarsAndBounded) {
  const struct {
    std::string resource;
    std::string shown;
  } cases[] = {
      {"Terms.\r\nMore.\r\n***\r\n", "Terms.\r\nMore.\r\n"},
      {"No stars at all", "No stars at all"},
      {"a ** b *** c *** d", "a ** b "},
      {std::string(5000, 'x') + "***", std::string(2999, 'x')},
  };
  for (const auto& c : cases) {
    char buffer[3000 + 8];
    std::memset(buffer, '#', sizeof buffer);
    CutLicence(buffer, 3000, c.resource.data(), (uint32_t)c.resource.size());
    EXPECT_EQ(std::string(buffer), c.shown);
    for (size_t k = 3000; k < sizeof buffer; k++) EXPECT_EQ(buffer[k], '#');
  }
}

TEST(ProgmanCommands, TwelveCommandsInOrder) {
  const char* folder = "c:\\vexa";
  const struct {
    const char* newShell;
    const char* oldShell;  // null: the same
    int essential;
  } steps[PROGMAN_COMMAND_COUNT] = {
      {"[CreateGroup(\"Vexa\")]", nullptr, 1},
      {"[ShowGroup(\"Vexa\",1)]", nullptr, 0},
      {"[ReplaceItem(\"Vexa32\")]", nullptr, 0},
      {"[AddItem(\"c:\\vexa\\Vexa32.exe\",\"Vexa32\",,0,,,\"c:\\vexa\")]", nullptr, 1},
      {"[ReplaceItem(\"Vexa Help\")]", nullptr, 0},
      {"[AddItem(\"c:\\vexa\\Vexa.hlp\",\"Vexa Help\",,0,,,\"c:\\vexa\")]", nullptr, 1},
      {"[ReplaceItem(\"Quick Primer\")]", nullptr, 0},
      {"[AddItem(\"c:\\vexa\\Primer.hlp\",\"Quick Primer\",,0,,,\"c:\\vexa\")]", nullptr, 1},
      {"[ReplaceItem(\"About.txt\")]", nullptr, 0},
      {"[AddItem(\"c:\\vexa\\about.txt\",\"About.txt\",,,,,\"c:\\vexa\")]",
       "[AddItem(\"c:\\vexa\\about.txt\",\"About.txt\",\"write.exe\",0,,,\"c:\\vexa\")]", 1},
      {"[ReplaceItem(\"History.txt\")]", nullptr, 0},
      {"[AddItem(\"c:\\vexa\\history.txt\",\"History.txt\",,,,,\"c:\\vexa\")]",
       "[AddItem(\"c:\\vexa\\history.txt\",\"History.txt\",\"write.exe\",0,,,\"c:\\vexa\")]", 1},
  };
  for (int step = 0; step < PROGMAN_COMMAND_COUNT; step++) {
    char text[PROGMAN_TEXT_SIZE];
    EXPECT_EQ(FormatProgmanCommand(step, folder, 1, text, sizeof text), steps[step].essential);
    EXPECT_STREQ(text, steps[step].newShell) << step;
    FormatProgmanCommand(step, folder, 0, text, sizeof text);
    EXPECT_STREQ(text, steps[step].oldShell ? steps[step].oldShell : steps[step].newShell) << step;
  }
  char first[PROGMAN_TEXT_SIZE];
  FormatProgmanCommand(0, folder, 1, first, sizeof first);
  EXPECT_EQ(TextLength(first) + 1, 22);  // sent with its terminating zero
}

TEST(ProgmanCommands, FolderEndingInABackslashIsSentAsItIs) {
  char text[PROGMAN_TEXT_SIZE];
  FormatProgmanCommand(3, "d:\\apps\\", 1, text, sizeof text);
  EXPECT_STREQ(text, "[AddItem(\"d:\\apps\\\\Vexa32.exe\",\"Vexa32\",,0,,,\"d:\\apps\\\")]");
  // Two 299-character folders still fit.
  std::string longest(299, 'f');
  FormatProgmanCommand(11, longest.c_str(), 0, text, sizeof text);
  EXPECT_EQ(std::string(text).find(longest + "\\history.txt"), 10u);
  EXPECT_EQ(std::string(text).rfind(longest + "\")]"), std::string(text).size() - 302);
}

}  // namespace
