// A program manager of our own for the acceptance tests: it serves the DDE service
// "PROGMAN", topic "PROGMAN", after the prefix's own servers have been closed, and writes
// every conversation and every execute command, byte for byte, into a log.
//   progman LOG [REFUSE...]
// An execute whose bytes contain one of the REFUSE texts is refused. "ready" on standard
// output says the service is registered; the program ends when its standard input ends.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <string.h>
// Needs the types of windows.h.
#include <ddeml.h>

#include <string>
#include <vector>

namespace {

DWORD instance;
HSZ serviceName;
FILE* logFile;
std::vector<std::string> refused;
DWORD mainThread;

// Printable ASCII as it is, a backslash doubled, every other byte as \xNN.
std::string Escape(const unsigned char* data, DWORD size) {
  std::string out;
  for (DWORD i = 0; i < size; i++) {
    unsigned char c = data[i];
    if (c == '\\') {
      out += "\\\\";
    } else if (c >= 0x20 && c < 0x7F) {
      out += (char)c;
    } else {
      char code[8];
      snprintf(code, sizeof code, "\\x%02x", c);
      out += code;
    }
  }
  return out;
}

void Log(const std::string& line) {
  fprintf(logFile, "%s\n", line.c_str());
  fflush(logFile);
}

HDDEDATA CALLBACK Callback(UINT type, UINT, HCONV, HSZ topic, HSZ, HDDEDATA data, ULONG_PTR,
                           ULONG_PTR) {
  switch (type) {
    case XTYP_CONNECT:
      // Only the program manager's own topic.
      return (HDDEDATA)(ULONG_PTR)(DdeCmpStringHandles(topic, serviceName) == 0);
    case XTYP_CONNECT_CONFIRM:
      Log("connect");
      return 0;
    case XTYP_DISCONNECT:
      Log("disconnect");
      return 0;
    case XTYP_EXECUTE: {
      DWORD size = DdeGetData(data, NULL, 0, 0);
      std::vector<unsigned char> bytes(size + 1, 0);
      DdeGetData(data, bytes.data(), size, 0);
      std::string text((const char*)bytes.data(), size);
      bool refuse = false;
      for (const std::string& r : refused) refuse = refuse || text.find(r) != std::string::npos;
      Log("execute " + std::to_string(size) + " " + Escape(bytes.data(), size) +
          (refuse ? " refused" : " accepted"));
      return (HDDEDATA)(ULONG_PTR)(refuse ? DDE_FNOTPROCESSED : DDE_FACK);
    }
    default:
      return 0;
  }
}

// The test ends us by closing our standard input.
DWORD WINAPI WatchInput(void*) {
  while (fgetc(stdin) != EOF) {
  }
  PostThreadMessageA(mainThread, WM_QUIT, 0, 0);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  if (argc < 2) {
    fprintf(stderr, "usage: progman LOG [REFUSE...]\n");
    return 2;
  }
  logFile = fopen(argv[1], "wb");
  if (logFile == NULL) return 1;
  for (int i = 2; i < argc; i++) refused.push_back(argv[i]);
  mainThread = GetCurrentThreadId();
  MSG message;
  // The thread needs its queue before the input watcher may post to it.
  PeekMessageA(&message, NULL, 0, 0, PM_NOREMOVE);
  if (DdeInitializeA(&instance, Callback,
                     APPCLASS_STANDARD | CBF_SKIP_REGISTRATIONS | CBF_SKIP_UNREGISTRATIONS,
                     0) != DMLERR_NO_ERROR) {
    return 1;
  }
  serviceName = DdeCreateStringHandleA(instance, "PROGMAN", CP_WINANSI);
  if (serviceName == 0 || DdeNameService(instance, serviceName, 0, DNS_REGISTER) == 0) return 1;
  printf("ready\n");
  fflush(stdout);
  HANDLE watcher = CreateThread(NULL, 0, WatchInput, NULL, 0, NULL);
  if (watcher == NULL) return 1;
  CloseHandle(watcher);
  while (GetMessageA(&message, NULL, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  DdeNameService(instance, serviceName, 0, DNS_UNREGISTER);
  DdeFreeStringHandle(instance, serviceName);
  DdeUninitialize(instance);
  fclose(logFile);
  return 0;
}
