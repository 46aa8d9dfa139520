// The program group "Vexa", made by execute commands to the program manager over DDE.
#pragma once

#include <windows.h>

#include <ddeml.h>

// Sends one command in a conversation of its own through the DDE instance; 1 when the
// program manager accepted it.
int SendProgmanCommand(DWORD ddeInstance, const char* command);

// Makes the group and its items for the programs in folder, in the form the shell
// (newShell: 1 for the new one) understands; 1 when every essential command was accepted.
int CreateProgramGroup(DWORD ddeInstance, const char* folder, int newShell);

// The DDE instance's callback: a client only, it answers nothing.
extern "C" __declspec(dllexport) HDDEDATA CALLBACK
    DdeCallback(UINT type, UINT format, HCONV conversation, HSZ topic, HSZ item, HDDEDATA data,
                ULONG_PTR data1, ULONG_PTR data2);
