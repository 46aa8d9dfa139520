#include "ui/ui_logic.h"

#include "engine/shared.h"
#include "resources/texts.h"

static const char FolderName[] = PRODUCT_FOLDER;

void CompleteFolderName(char* text, int size, const char* ownPath) {
  int length = TextLength(text);
  LowerCase(text);
  if (length <= 1) {
    // No folder shown: the installer's own folder, in the case of its path.
    SplitPath(ownPath);
    CopyText(text, size, splitDrive);
    AppendText(text, size, splitDirectory);
    AppendText(text, size, FolderName);
    return;
  }
  if (ContainsText(text, "\\" PRODUCT_FOLDER)) return;
  const char* suffix = text[length - 1] == '\\' ? PRODUCT_FOLDER : "\\" PRODUCT_FOLDER;
  // A completion that would not fit is left out rather than cut short.
  if (length + TextLength(suffix) < size) AppendText(text, size, suffix);
}

int DefaultFolder(char* text, int size, const char* ownPath, int rootIsFixed,
                  const char* windowsFolder) {
  int drive = -1;
  CopyText(text, size, ownPath);
  LowerCase(text);
  if (size > 3) text[3] = '\0';
  if (!rootIsFixed && windowsFolder != nullptr) {
    SplitPath(windowsFolder);
    CopyText(text, size, splitDrive);
    AppendText(text, size, "\\");
    LowerCase(text);
    drive = text[0] - 'a';
  }
  AppendText(text, size, FolderName);
  return drive;
}

void CenterPosition(const Box& desktop, const Box& window, int32_t* x, int32_t* y) {
  int32_t w = window.right - window.left, h = window.bottom - window.top;
  *x = desktop.left + (desktop.right - desktop.left) / 2 - w / 2;
  *y = desktop.top + (desktop.bottom - desktop.top) / 2 - h / 2;
  if (*x + w > desktop.right - 10) *x = desktop.right - 10 - w;
  if (*y + h > desktop.bottom - 10) *y = desktop.bottom - 10 - h;
  if (*x < 0) *x = 1;
  if (*y < 0) *y = 1;
}

int32_t InstallBarFillFor(int64_t position, int32_t width, int32_t carrierSize) {
  return (int32_t)(position * width / carrierSize);
}

void FollowCarrier(FILE* stream, int32_t width) {
  if (CarrierSize == 0) {
    long position = ftell(stream);
    fseek(stream, 0, SEEK_END);
    CarrierSize = (int32_t)ftell(stream);
    fseek(stream, position, SEEK_SET);
  }
  if (CarrierSize > 0) InstallBarFill = InstallBarFillFor(ftell(stream), width, CarrierSize);
}

uint32_t FileBarFillFor(uint32_t width, uint32_t done, uint32_t total) {
  return total != 0 ? width * done / total : 0;
}

BarSplit SplitBar(const Box& box, int32_t fill) {
  BarSplit split = {};
  int32_t top = box.top + 1, bottom = box.bottom - 1;
  int32_t whiteLeft = box.left + 1;
  if (fill > 0) {
    split.hasFill = 1;
    int32_t fillRight = box.left + fill;
    if (fillRight >= box.right - 1) fillRight = box.right - 1;
    split.fillPart = {box.left + 1, top, fillRight, bottom};
    whiteLeft = box.left + fill;
  }
  if (whiteLeft < box.right - 1) {
    split.hasWhite = 1;
    split.whitePart = {whiteLeft, top, box.right - 1, bottom};
  }
  return split;
}

void PercentText(char* text, int size, int32_t fill, int32_t width) {
  char digits[16];
  int32_t percent = fill > 0 && width != 0 ? fill * 100 / width : 0;
  int n = 0;
  uint32_t value = percent < 0 ? (uint32_t)-percent : (uint32_t)percent;
  do {
    digits[n++] = (char)('0' + value % 10);
    value /= 10;
  } while (value > 0);
  CopyText(text, size, percent < 0 ? "-" : "");
  char one[2] = {0, 0};
  while (n > 0) {
    one[0] = digits[--n];
    AppendText(text, size, one);
  }
  AppendText(text, size, "%");
}

int NewShellFor(uint32_t version) {
  uint32_t major = version & 0xFF, minor = (version >> 8) & 0xFF;
  return major == 4 || minor >= 95;
}

void CutLicence(char* buffer, int size, const char* resource, uint32_t resourceSize) {
  uint32_t n = 0;
  for (; n < resourceSize && (int)n + 1 < size; n++) buffer[n] = resource[n];
  buffer[n] = '\0';
  for (uint32_t i = 0; i + 2 < n; i++) {
    if (buffer[i] == '*' && buffer[i + 1] == '*' && buffer[i + 2] == '*') {
      buffer[i] = '\0';
      break;
    }
  }
}
