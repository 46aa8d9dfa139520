// The program group "Vexa", made by execute commands to the program manager over DDE.
#include <windows.h>

#include <ddeml.h>

#include "desktop/progman_commands.h"
#include "engine/shared.h"
#include "ui/installer.h"

static char commandText[PROGMAN_TEXT_SIZE];

extern "C" __declspec(dllexport) HDDEDATA CALLBACK
    DdeCallback(UINT, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR, ULONG_PTR) {
  return 0;
}

// One command in a conversation of its own; 1 when the program manager accepted it.
int SendProgmanCommand(const char* command) {
  HSZ service = DdeCreateStringHandleA(DdeInstance, "PROGMAN", CP_WINANSI);
  if (service == 0) return 0;
  HSZ topic = DdeCreateStringHandleA(DdeInstance, "PROGMAN", CP_WINANSI);
  if (topic == 0) {
    DdeFreeStringHandle(DdeInstance, service);
    return 0;
  }
  int accepted = 0;
  HCONV conversation = DdeConnect(DdeInstance, service, topic, NULL);
  if (conversation != 0) {
    DWORD result;
    // The terminating zero travels with the command.
    accepted = DdeClientTransaction((LPBYTE)command, (DWORD)lstrlenA(command) + 1, conversation, 0,
                                    CF_TEXT, XTYP_EXECUTE, 5000, &result) != 0;
    DdeDisconnect(conversation);
  }
  DdeFreeStringHandle(DdeInstance, topic);
  DdeFreeStringHandle(DdeInstance, service);
  return accepted;
}

int CreateProgramGroup(void) {
  for (int step = 0; step < PROGMAN_COMMAND_COUNT; step++) {
    int essential =
        FormatProgmanCommand(step, DestinationFolder, NewShell, commandText, sizeof commandText);
    if (!SendProgmanCommand(commandText) && essential) return 0;
  }
  return 1;
}
