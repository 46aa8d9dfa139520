#include "tests/pe_test_parsers.h"

#include "pack/pe_reader.h"

namespace testpe {
namespace {

using vexa::pe::DataDirectory;
using vexa::pe::ImageReader;
using vexa::pe::Malformed;
using vexa::pe::Reader;
using vexa::pe::ReadUtf16;

std::vector<std::string> ReadImports(const ImageReader& image, DataDirectory dir) {
  std::vector<std::string> dlls;
  if (dir.rva == 0) return dlls;
  uint64_t at = image.Offset(dir.rva, "the import directory");
  for (;; at += 20) {
    uint32_t name = image.in().U32(at + 12);
    uint32_t firstThunk = image.in().U32(at + 16);
    if (name == 0 && firstThunk == 0) break;
    dlls.push_back(image.Ascii(name, "an imported DLL's name"));
  }
  return dlls;
}

std::vector<std::string> ReadExports(const ImageReader& image, DataDirectory dir) {
  std::vector<std::string> names;
  if (dir.rva == 0) return names;
  uint64_t at = image.Offset(dir.rva, "the export directory");
  uint32_t count = image.in().U32(at + 24);
  uint32_t table = image.in().U32(at + 32);
  if (count == 0) return names;
  uint64_t tableAt = image.Offset(table, "the export name table");
  image.in().Need(tableAt, (uint64_t)count * 4, "the export name table");
  for (uint32_t k = 0; k < count; k++)
    names.push_back(image.Ascii(image.in().U32(tableAt + 4 * (uint64_t)k), "an export name"));
  return names;
}

// A name-or-ordinal field: 0xFFFF and an ordinal, or a zero-terminated UTF-16 text. A lone
// zero is ordinal 0 for a menu or class (none) and the empty text for a title.
ResourceId ReadNameOrOrdinal(const Reader& in, uint64_t* at, bool zeroIsText) {
  uint16_t first = in.U16(*at);
  if (first == 0xFFFF) {
    uint16_t ordinal = in.U16(*at + 2);
    *at += 4;
    return ordinal;
  }
  if (first == 0 && !zeroIsText) {
    *at += 2;
    return (uint16_t)0;
  }
  return ReadUtf16(in, *at, -1, at);
}

constexpr uint32_t kDsSetFont = 0x40;

}  // namespace

PeImage PeImage::Parse(std::span<const uint8_t> file) {
  PeImage image;
  static_cast<vexa::PeImage&>(image) = vexa::PeImage::Parse(file);
  Reader in(file);
  vexa::pe::Headers headers = vexa::pe::ReadHeaders(in);
  ImageReader reader(in, headers.sections);
  image.exportedNames_ = ReadExports(reader, headers.Directory(0));
  image.importedDlls_ = ReadImports(reader, headers.Directory(1));
  return image;
}

DialogTemplate ParseDialogTemplate(std::span<const uint8_t> bytes) {
  Reader in(bytes);
  if (in.size() >= 4 && in.U16(0) == 1 && in.U16(2) == 0xFFFF)
    Malformed("an extended dialog template");
  DialogTemplate dialog;
  dialog.style = in.U32(0);
  dialog.exStyle = in.U32(4);
  uint16_t count = in.U16(8);
  dialog.x = (int16_t)in.U16(10);
  dialog.y = (int16_t)in.U16(12);
  dialog.cx = (int16_t)in.U16(14);
  dialog.cy = (int16_t)in.U16(16);
  uint64_t at = 18;
  dialog.menu = ReadNameOrOrdinal(in, &at, false);
  dialog.windowClass = ReadNameOrOrdinal(in, &at, false);
  dialog.caption = ReadUtf16(in, at, -1, &at);
  if (dialog.style & kDsSetFont) {
    dialog.pointSize = in.U16(at);
    dialog.fontName = ReadUtf16(in, at + 2, -1, &at);
  }
  for (uint16_t k = 0; k < count; k++) {
    at = (at + 3) & ~uint64_t{3};  // each item starts on a DWORD boundary
    DialogItem item;
    item.style = in.U32(at);
    item.exStyle = in.U32(at + 4);
    item.x = (int16_t)in.U16(at + 8);
    item.y = (int16_t)in.U16(at + 10);
    item.cx = (int16_t)in.U16(at + 12);
    item.cy = (int16_t)in.U16(at + 14);
    item.id = in.U16(at + 16);
    at += 18;
    item.windowClass = ReadNameOrOrdinal(in, &at, false);
    item.title = ReadNameOrOrdinal(in, &at, true);
    // A nonzero size word counts itself and the creation data after it.
    uint16_t extra = in.U16(at);
    if (extra == 1) Malformed("a control's creation data size");
    if (extra >= 2) {
      std::span<const uint8_t> data = in.Slice(at + 2, extra - 2u, "a control's creation data");
      item.creationData.assign(data.begin(), data.end());
      at += extra;
    } else {
      at += 2;
    }
    dialog.items.push_back(std::move(item));
  }
  return dialog;
}

}  // namespace testpe
