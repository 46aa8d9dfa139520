#include "archive_format.h"

const char* const TargetFileTable[SEGMENT_COUNT] = {
    "vexa32.exe", "vxtool32.exe", "vexa.hlp",  "primer.hlp", "about.txt", "history.txt",
    "vexa.ini",   "macros.ini",   "menus.ini", "sites.ini",  "links.ini",
};
