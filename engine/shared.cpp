#include "engine/shared.h"

char DestinationFolder[FOLDER_TEXT_SIZE];
char workText[WORK_TEXT_SIZE];
char carrierPath[WORK_TEXT_SIZE];

int MakeBackups;
int KeepSettings;
int CreateIcons;
int HelpOnExit;
int LaunchOnExit;

int AbortPending;
int32_t InstallBarFill;
int32_t CarrierSize;

char splitDrive[SPLIT_DRIVE_SIZE];
char splitDirectory[SPLIT_PART_SIZE];
char splitBaseName[SPLIT_PART_SIZE];
char splitExtension[SPLIT_PART_SIZE];
int splitTruncated;

int TextLength(const char* text) {
  int n = 0;
  while (text[n] != '\0') n++;
  return n;
}

int CopyText(char* buffer, int size, const char* text) {
  if (size <= 0) return 0;
  buffer[0] = '\0';
  return AppendText(buffer, size, text);
}

int AppendText(char* buffer, int size, const char* text) {
  int n = TextLength(buffer);
  while (*text != '\0') {
    if (n + 1 >= size) {
      buffer[n] = '\0';
      return 0;
    }
    buffer[n++] = *text++;
  }
  buffer[n] = '\0';
  return 1;
}

int ContainsText(const char* text, const char* part) {
  for (; *text != '\0'; text++) {
    int k = 0;
    while (part[k] != '\0' && text[k] == part[k]) k++;
    if (part[k] == '\0') return 1;
  }
  return *part == '\0';
}

// Copies count characters of text into a part buffer.
static void CopyPart(char* part, int size, const char* text, int count) {
  int n = 0;
  for (; n < count && n + 1 < size; n++) part[n] = text[n];
  part[n] = '\0';
  if (n < count) splitTruncated = 1;
}

void SplitPath(const char* path) {
  splitTruncated = 0;
  const char* rest = path;
  int driveLength = 0;
  if (rest[0] != '\0' && rest[1] == ':') driveLength = 2;
  CopyPart(splitDrive, SPLIT_DRIVE_SIZE, rest, driveLength);
  rest += driveLength;

  // The directory runs up to and including the last separator.
  int length = TextLength(rest), directoryLength = 0;
  for (int i = 0; i < length; i++) {
    if (rest[i] == '\\' || rest[i] == '/') directoryLength = i + 1;
  }
  CopyPart(splitDirectory, SPLIT_PART_SIZE, rest, directoryLength);
  rest += directoryLength;
  length -= directoryLength;

  // The extension starts at the last dot of the name.
  int baseLength = length;
  for (int i = length - 1; i >= 0; i--) {
    if (rest[i] == '.') {
      baseLength = i;
      break;
    }
  }
  CopyPart(splitBaseName, SPLIT_PART_SIZE, rest, baseLength);
  CopyPart(splitExtension, SPLIT_PART_SIZE, rest + baseLength, length - baseLength);
}

void LowerCase(char* text) {
  for (; *text != '\0'; text++) {
    if (*text >= 'A' && *text <= 'Z') *text = (char)(*text - 'A' + 'a');
  }
}
