// The wizard's arithmetic and text rules, free of the window system so they are tested
// natively: folder-name completion, the default folder, centring, the bars, the shell test.
#pragma once

#include <stdint.h>
#include <stdio.h>

struct Box {
  int32_t left, top, right, bottom;
};

// Completes the folder the folder dialog shows (in text, size characters with the
// terminator) with the product's folder name; ownPath is the installer's own path, used
// when the dialog shows no folder. Nothing is ever written past size.
void CompleteFolderName(char* text, int size, const char* ownPath);

// The default destination: the root of the installer's drive when it is fixed, else that
// of the Windows folder's drive (windowsFolder null when unknown), plus "vexa". Returns the
// drive to make current (0 for a:), or -1 to leave it.
int DefaultFolder(char* text, int size, const char* ownPath, int rootIsFixed,
                  const char* windowsFolder);

// Where a window goes to be centred on the desktop, 10 pixels clear of the right and bottom
// edges, never at a negative coordinate.
void CenterPosition(const Box& desktop, const Box& window, int32_t* x, int32_t* y);

// The install bar's fill in pixels for a position in the carrier; the product is formed in
// 64 bits.
int32_t InstallBarFillFor(int64_t position, int32_t width, int32_t carrierSize);

// Brings the install bar's state up to date from the carrier stream: measures CarrierSize
// once per run (the stream's position is kept), then sets InstallBarFill from the position.
void FollowCarrier(FILE* stream, int32_t width);

// The per-file bar's fill: width x done / total in unsigned 32 bits, 0 when total is 0.
uint32_t FileBarFillFor(uint32_t width, uint32_t done, uint32_t total);

// How a bar's band splits into its coloured and white parts. box is the bar's rectangle in
// client coordinates, frame included.
struct BarSplit {
  int hasFill, hasWhite;
  Box fillPart, whitePart;  // rows already inset by the frame
};
BarSplit SplitBar(const Box& box, int32_t fill);

// The percentage text of the install bar: fill x 100 / width and a percent sign, "0%" when
// empty.
void PercentText(char* text, int size, int32_t fill, int32_t width);

// The new shell is present with a major version of exactly 4, or a minor version of 95 or
// more.
int NewShellFor(uint32_t version);

// Copies the licence resource (no terminator of its own) into buffer and ends it at the
// first "***".
void CutLicence(char* buffer, int size, const char* resource, uint32_t resourceSize);
