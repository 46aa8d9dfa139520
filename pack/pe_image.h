// Reads a 32-bit Windows executable (PE32) from memory: header facts, sections, the file
// layout and resources. Enough to find what a built installer carries; malformed input
// throws std::runtime_error. (The tests' fuller parsers are in tests/pe_test_parsers.h.)
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

namespace vexa {

inline constexpr uint16_t kMachineI386 = 0x014C;
inline constexpr uint16_t kSubsystemGui = 2;
inline constexpr uint16_t kSubsystemConsole = 3;

// Resource types used by the installer.
inline constexpr uint16_t kRtIcon = 3;
inline constexpr uint16_t kRtDialog = 5;
inline constexpr uint16_t kRtRcData = 10;
inline constexpr uint16_t kRtGroupIcon = 14;

// A resource type or name: an ordinal or a text. Texts are kept as UTF-8.
using ResourceId = std::variant<uint16_t, std::string>;

struct PeSection {
  std::string name;
  uint32_t virtualAddress = 0;
  uint32_t virtualSize = 0;
  uint32_t rawOffset = 0;
  uint32_t rawSize = 0;
  uint32_t characteristics = 0;
};

struct PeResource {
  ResourceId type;
  ResourceId name;
  uint16_t language = 0;
  uint32_t codePage = 0;
  uint32_t fileOffset = 0;  // of the data's first byte in the file
  uint32_t size = 0;
  std::vector<uint8_t> bytes;  // empty when only the places were read
};

class PeImage {
 public:
  static PeImage Parse(std::span<const uint8_t> file);

  uint16_t machine() const { return machine_; }
  uint16_t subsystem() const { return subsystem_; }
  uint16_t characteristics() const { return characteristics_; }
  const std::vector<PeSection>& sections() const { return sections_; }
  const std::vector<PeResource>& resources() const { return resources_; }

  // The first resource of that type and name in any language; names compare without
  // regard to ASCII case, as the system's lookup does.
  std::optional<PeResource> FindResource(const ResourceId& type, const ResourceId& name) const;

 private:
  uint16_t machine_ = 0;
  uint16_t subsystem_ = 0;
  uint16_t characteristics_ = 0;
  std::vector<PeSection> sections_;
  std::vector<PeResource> resources_;
};

// Where a PE32 image's parts lie in its file, from the headers alone, so that a cut or
// lengthened file can be told apart from a damaged one.
struct PeFileLayout {
  uint16_t machine = 0;
  uint16_t subsystem = 0;
  uint16_t characteristics = 0;
  uint64_t sectionsEnd = 0;        // the end of the last section's raw data
  uint32_t certificateOffset = 0;  // the Authenticode certificate table: a file offset
  uint32_t certificateSize = 0;    // 0: not signed
};

// Reads the headers and section table only; throws std::runtime_error when they are not
// those of a PE32 image.
PeFileLayout ReadPeFileLayout(std::span<const uint8_t> file);

// Whether file is a PE32+ (64-bit) image, from its headers alone.
bool IsPe32Plus(std::span<const uint8_t> file);

// The resources of a PE32 image where they lie (fileOffset and size), without their bytes:
// cheap on any file, and enough to find the archive. Throws as Parse does.
std::vector<PeResource> ReadResourcePlaces(std::span<const uint8_t> file);

}  // namespace vexa
