// A deterministic stand-in for the installer's eleven payload files, with the real sizes
// and content of the same kind, so codec measurements mean something.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vexa::bench {

inline constexpr size_t kPayloadRows = 11;
inline constexpr size_t kPayloadSizes[kPayloadRows] = {
    1213952, 77824, 180015, 68868, 1268, 28634, 1594, 293, 2411, 31424, 799,
};

struct Payload {
  std::vector<std::vector<uint8_t>> files;  // row order, as the archive holds them
  std::string codeSource;                   // where the x86 rows came from
  std::string textSource;                   // where the English text came from
};

// Built once per process; the same bytes on every call.
const Payload& GetPayload();

size_t PayloadBytes();

// Writes each row under its target file name into dir (created if needed); throws
// std::runtime_error on failure.
void WritePayload(const std::string& dir);

}  // namespace vexa::bench
