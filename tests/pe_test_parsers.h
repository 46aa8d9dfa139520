// What the tests read from PE32 images beyond what the tool needs (pack/pe_image.h): the
// imported DLLs, the exported names, and old-style dialog templates. Malformed input throws
// std::runtime_error.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "pack/pe_image.h"

namespace testpe {

using vexa::ResourceId;

// The tool's image with the imported DLLs and the exported names read as well.
class PeImage : public vexa::PeImage {
 public:
  static PeImage Parse(std::span<const uint8_t> file);

  const std::vector<std::string>& importedDlls() const { return importedDlls_; }
  const std::vector<std::string>& exportedNames() const { return exportedNames_; }

 private:
  std::vector<std::string> importedDlls_;
  std::vector<std::string> exportedNames_;
};

// The classic DLGTEMPLATE and its DLGITEMTEMPLATEs (not the extended form). Class, menu and
// control texts are ordinals or texts, like resource ids.
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

DialogTemplate ParseDialogTemplate(std::span<const uint8_t> bytes);

// The predefined control classes' ordinals in dialog templates.
inline constexpr uint16_t kClassButton = 0x80;
inline constexpr uint16_t kClassEdit = 0x81;
inline constexpr uint16_t kClassStatic = 0x82;
inline constexpr uint16_t kClassListBox = 0x83;
inline constexpr uint16_t kClassScrollBar = 0x84;
inline constexpr uint16_t kClassComboBox = 0x85;

}  // namespace testpe
