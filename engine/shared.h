// State and helpers shared by the engine and the wizard: the destination folder, the
// option flags, the scratch texts, the path split and bounded text copies.
#pragma once

#include <stdint.h>

enum {
  FOLDER_TEXT_SIZE = 300,  // the destination folder and the run's paths, terminator included
  WORK_TEXT_SIZE = 900,
  SPLIT_DRIVE_SIZE = 3,
  SPLIT_PART_SIZE = 256,
};

extern char DestinationFolder[FOLDER_TEXT_SIZE];
extern char workText[WORK_TEXT_SIZE];
extern char carrierPath[WORK_TEXT_SIZE];

// Options, each 0 or 1: set at Install (the first three) and at Finish (the last two).
extern int MakeBackups;
extern int KeepSettings;
extern int CreateIcons;
extern int HelpOnExit;
extern int LaunchOnExit;

// The wizard's abort question is open: step messages are dropped meanwhile.
extern int AbortPending;
// The install bar: width of its filled part in pixels, and the carrier's size in bytes
// (0 until measured).
extern int32_t InstallBarFill;
extern int32_t CarrierSize;

// The parts of the last path split, each with its separators; the next split overwrites
// them. splitTruncated is set when a part did not fit its buffer.
extern char splitDrive[SPLIT_DRIVE_SIZE];
extern char splitDirectory[SPLIT_PART_SIZE];
extern char splitBaseName[SPLIT_PART_SIZE];
extern char splitExtension[SPLIT_PART_SIZE];
extern int splitTruncated;

// Splits path into drive ("c:"), directory ("\vexa\"), base name and extension (".exe").
void SplitPath(const char* path);

// Lower-cases the ASCII letters A to Z in place.
void LowerCase(char* text);

// Bounded copies: the result is always terminated. They return 1 when everything fit and
// 0 when the text was cut.
int CopyText(char* buffer, int size, const char* text);
int AppendText(char* buffer, int size, const char* text);
int TextLength(const char* text);

// Whether text contains part (case-sensitive).
int ContainsText(const char* text, const char* part);
