#include "archive_format.h"

const char* const TargetFileTable[SEGMENT_COUNT] = {
#define TARGET_FILE(row, name) name,
#include "engine/target_files.def"
#undef TARGET_FILE
};
