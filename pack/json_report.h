// The JSON that list and verify print for scripts: one object on one line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "pack/archive.h"
#include "pack/carrier.h"

namespace vexa {

// The report as list prints it, or verify's findings on a plain scan (scan is null when
// FILE could not be read). Text that is not UTF-8, as a file name may be, has U+FFFD in
// place of each bad byte, so the output is always valid JSON.
std::string CarrierJson(const std::string& file, const CarrierReport& report);
std::string VerifyJson(const std::string& file, const ScanReport* scan,
                       std::optional<uint32_t> expectSum, const std::vector<Problem>& problems,
                       int status);

}  // namespace vexa
