// The installer stub and the finished installer made from it: the stub is the installer
// with every resource but the archive and an unfilled sum record; build writes the archive
// (and a licence) into its resource section and fills the record.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "pack/archive.h"

namespace vexa {

inline constexpr char kStubName[] = "vexa-stub.exe";

// A file that cannot serve as the stub; what() says why in one line.
struct StubError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Checks what can be told of a stub before the payload is packed: a 32-bit Windows GUI
// program, unsigned, with one sum placeholder and no archive. Throws StubError.
void CheckStub(std::span<const uint8_t> stub);

// Why the installer would not show this licence text whole, or nothing when it would.
std::optional<std::string> LicenceProblem(std::span<const uint8_t> text);

// The finished installer: the stub with RCDATA 4 (the archive as the installer carries it)
// and, when given, RCDATA 3 replaced by licence; the sum record filled; read back as the
// installer's scan reads it, which must find exactly this archive and these files. Throws
// StubError when the stub's image cannot take them, std::runtime_error when the result
// does not read back.
std::vector<uint8_t> BuildInstaller(std::span<const uint8_t> stub, const Archive& archive,
                                    const std::vector<std::vector<uint8_t>>& files,
                                    const std::vector<uint8_t>* licence);

}  // namespace vexa
