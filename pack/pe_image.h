// Reads a 32-bit Windows executable (PE32) from memory: header facts, sections, imported
// DLLs, exported names and resources, and old-style dialog templates. Enough to check a
// built installer against what it must carry; malformed input throws std::runtime_error.
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

// A resource type or name, and a dialog's class, menu or control text: an ordinal or a
// text. Texts are kept as UTF-8.
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
  uint32_t fileOffset = 0;  // of the data's first byte in the file
  std::vector<uint8_t> bytes;
};

class PeImage {
 public:
  static PeImage Parse(std::span<const uint8_t> file);

  uint16_t machine() const { return machine_; }
  uint16_t subsystem() const { return subsystem_; }
  uint16_t characteristics() const { return characteristics_; }
  const std::vector<PeSection>& sections() const { return sections_; }
  const std::vector<std::string>& importedDlls() const { return importedDlls_; }
  const std::vector<std::string>& exportedNames() const { return exportedNames_; }
  const std::vector<PeResource>& resources() const { return resources_; }

  // The first resource of that type and name in any language; names compare without
  // regard to ASCII case, as the system's lookup does.
  std::optional<PeResource> FindResource(const ResourceId& type, const ResourceId& name) const;

 private:
  uint16_t machine_ = 0;
  uint16_t subsystem_ = 0;
  uint16_t characteristics_ = 0;
  std::vector<PeSection> sections_;
  std::vector<std::string> importedDlls_;
  std::vector<std::string> exportedNames_;
  std::vector<PeResource> resources_;
};

// The classic DLGTEMPLATE and its DLGITEMTEMPLATEs (not the extended form).
struct DialogItem {
  uint32_t style = 0;
  uint32_t exStyle = 0;
  int16_t x = 0, y = 0, cx = 0, cy = 0;
  uint16_t id = 0;  // -1 reads as 0xFFFF
  ResourceId windowClass;
  ResourceId title;
  std::vector<uint8_t> creationData;
};

struct DialogTemplate {
  uint32_t style = 0;
  uint32_t exStyle = 0;
  int16_t x = 0, y = 0, cx = 0, cy = 0;
  ResourceId menu;         // 0: none
  ResourceId windowClass;  // 0: the default dialog class
  std::string caption;
  uint16_t pointSize = 0;  // with DS_SETFONT only
  std::string fontName;
  std::vector<DialogItem> items;
};

// Where a PE32 image's parts lie in its file, from the headers alone, so that a cut or
// lengthened file can be told apart from a damaged one.
struct PeFileLayout {
  uint64_t sectionsEnd = 0;        // the end of the last section's raw data
  uint32_t certificateOffset = 0;  // the Authenticode certificate table: a file offset
  uint32_t certificateSize = 0;    // 0: not signed
};

// Reads the headers and section table only; throws std::runtime_error when they are not
// those of a PE32 image.
PeFileLayout ReadPeFileLayout(std::span<const uint8_t> file);

DialogTemplate ParseDialogTemplate(std::span<const uint8_t> bytes);

// The predefined control classes' ordinals in dialog templates.
inline constexpr uint16_t kClassButton = 0x80;
inline constexpr uint16_t kClassEdit = 0x81;
inline constexpr uint16_t kClassStatic = 0x82;
inline constexpr uint16_t kClassListBox = 0x83;
inline constexpr uint16_t kClassScrollBar = 0x84;
inline constexpr uint16_t kClassComboBox = 0x85;

}  // namespace vexa
