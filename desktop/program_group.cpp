#include "desktop/program_group.h"

#include "desktop/progman_commands.h"

static char commandText[PROGMAN_TEXT_SIZE];

extern "C" __declspec(dllexport) HDDEDATA CALLBACK
    DdeCallback(UINT, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR, ULONG_PTR) {
  return 0;
}

int SendProgmanCommand(DWORD ddeInstance, const char* command) {
  HSZ service = DdeCreateStringHandleA(ddeInstance, "PROGMAN", CP_WINANSI);
  if (service == 0) return 0;
  HSZ topic = DdeCreateStringHandleA(ddeInstance, "PROGMAN", CP_WINANSI);
  if (topic == 0) {
    DdeFreeStringHandle(ddeInstance, service);
    return 0;
  }
  int accepted = 0;
  HCONV conversation = DdeConnect(ddeInstance, service, topic, NULL);
  if (conversation != 0) {
    DWORD result;
    // The terminating zero travels with the command.
    accepted = DdeClientTransaction((LPBYTE)command, (DWORD)lstrlenA(command) + 1, conversation, 0,
                                    CF_TEXT, XTYP_EXECUTE, 5000, &result) != 0;
    DdeDisconnect(conversation);
  }
  DdeFreeStringHandle(ddeInstance, topic);
  DdeFreeStringHandle(ddeInstance, service);
  return accepted;
}

int CreateProgramGroup(DWORD ddeInstance, const char* folder, int newShell) {
  for (int step = 0; step < PROGMAN_COMMAND_COUNT; step++) {
    int essential = FormatProgmanCommand(step, folder, newShell, commandText, sizeof commandText);
    if (!SendProgmanCommand(ddeInstance, commandText) && essential) return 0;
  }
  return 1;
}
