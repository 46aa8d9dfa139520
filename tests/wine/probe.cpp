// Windows-side helper of the acceptance tests: what Wine itself reports about files, and a
// file held open by another process.
//   probe list FOLDER          every entry below FOLDER, sorted: relative path, attributes,
//                              size and an FNV-1a hash of the content ("-" for folders)
//   probe attrib HEX PATH...   sets the attributes of each path (SetFileAttributesA)
//   probe lock PATH            opens PATH without any sharing, prints "locked", and holds it
//                              until its standard input ends
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

std::string Hex(unsigned long long value, int digits) {
  char text[32];
  snprintf(text, sizeof text, "%0*llx", digits, value);
  return text;
}

// Read with every sharing allowed, so the listing never disturbs the installer.
std::string HashOf(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                            OPEN_EXISTING, 0, NULL);
  if (file == INVALID_HANDLE_VALUE) return "unreadable";
  unsigned long long hash = 0xcbf29ce484222325ull;
  unsigned char buffer[65536];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, NULL) && got > 0) {
    for (DWORD i = 0; i < got; i++) hash = (hash ^ buffer[i]) * 0x100000001b3ull;
  }
  CloseHandle(file);
  return Hex(hash, 16);
}

void ListInto(const std::string& folder, const std::string& relative,
              std::vector<std::string>* lines) {
  WIN32_FIND_DATAA entry;
  HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    std::string name = entry.cFileName;
    if (name == "." || name == "..") continue;
    std::string path = folder + "\\" + name, shown = relative + name;
    std::string attributes = Hex(GetFileAttributesA(path.c_str()), 8);
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      lines->push_back(shown + "\\\t" + attributes + "\t-\t-");
      ListInto(path, shown + "\\", lines);
    } else {
      unsigned long long size =
          ((unsigned long long)entry.nFileSizeHigh << 32) | entry.nFileSizeLow;
      lines->push_back(shown + "\t" + attributes + "\t" + std::to_string(size) + "\t" +
                       HashOf(path));
    }
  } while (FindNextFileA(find, &entry));
  FindClose(find);
}

int List(const char* folder) {
  if (GetFileAttributesA(folder) == INVALID_FILE_ATTRIBUTES) {
    printf("absent\n");
    return 0;
  }
  std::vector<std::string> lines;
  ListInto(folder, "", &lines);
  std::sort(lines.begin(), lines.end());
  for (const std::string& line : lines) printf("%s\n", line.c_str());
  return 0;
}

int Attrib(int count, char** args) {
  if (count < 2) return 2;
  DWORD attributes = strtoul(args[0], NULL, 16);
  int failed = 0;
  for (int i = 1; i < count; i++) {
    if (!SetFileAttributesA(args[i], attributes)) {
      printf("failed %s\n", args[i]);
      failed = 1;
    }
  }
  return failed;
}

int Lock(const char* path) {
  HANDLE file = CreateFileA(path, GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
  if (file == INVALID_HANDLE_VALUE) {
    printf("failed %lu\n", GetLastError());
    return 1;
  }
  printf("locked\n");
  fflush(stdout);
  while (fgetc(stdin) != EOF) {
  }
  CloseHandle(file);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  if (argc == 3 && strcmp(argv[1], "list") == 0) return List(argv[2]);
  if (argc >= 4 && strcmp(argv[1], "attrib") == 0) return Attrib(argc - 2, argv + 2);
  if (argc == 3 && strcmp(argv[1], "lock") == 0) return Lock(argv[2]);
  fprintf(stderr, "usage: probe list FOLDER | attrib HEX PATH... | lock PATH\n");
  return 2;
}
