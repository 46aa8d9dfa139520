#include "pack/pe_image.h"

#include <algorithm>
#include <stdexcept>

namespace vexa {
namespace {

[[noreturn]] void Malformed(const std::string& what) {
  throw std::runtime_error("not a readable PE32 image: " + what);
}

// Bounds-checked little-endian reads from a byte range.
class Reader {
 public:
  explicit Reader(std::span<const uint8_t> bytes) : bytes_(bytes) {}

  size_t size() const { return bytes_.size(); }
  void Need(uint64_t offset, uint64_t length, const char* what) const {
    if (offset > bytes_.size() || length > bytes_.size() - offset)
      Malformed(std::string(what) + " lies outside the data");
  }
  uint8_t U8(uint64_t offset) const {
    Need(offset, 1, "a field");
    return bytes_[offset];
  }
  uint16_t U16(uint64_t offset) const {
    Need(offset, 2, "a field");
    return (uint16_t)(bytes_[offset] | bytes_[offset + 1] << 8);
  }
  uint32_t U32(uint64_t offset) const {
    return (uint32_t)U16(offset) | (uint32_t)U16(offset + 2) << 16;
  }
  std::span<const uint8_t> Slice(uint64_t offset, uint64_t length, const char* what) const {
    Need(offset, length, what);
    return bytes_.subspan(offset, length);
  }

 private:
  std::span<const uint8_t> bytes_;
};

void AppendUtf8(std::string& out, uint32_t code) {
  if (code < 0x80) {
    out += (char)code;
  } else if (code < 0x800) {
    out += (char)(0xC0 | code >> 6);
    out += (char)(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += (char)(0xE0 | code >> 12);
    out += (char)(0x80 | (code >> 6 & 0x3F));
    out += (char)(0x80 | (code & 0x3F));
  } else {
    out += (char)(0xF0 | code >> 18);
    out += (char)(0x80 | (code >> 12 & 0x3F));
    out += (char)(0x80 | (code >> 6 & 0x3F));
    out += (char)(0x80 | (code & 0x3F));
  }
}

// UTF-16 code units, count given or up to a zero unit; *end receives the offset after it.
std::string ReadUtf16(const Reader& in, uint64_t offset, int64_t count, uint64_t* end) {
  std::string text;
  uint64_t at = offset;
  for (int64_t k = 0; count < 0 || k < count; k++) {
    uint32_t unit = in.U16(at);
    at += 2;
    if (count < 0 && unit == 0) break;
    if (unit >= 0xD800 && unit < 0xDC00 && (count < 0 || k + 1 < count)) {
      uint32_t low = in.U16(at);
      if (low >= 0xDC00 && low < 0xE000) {
        at += 2;
        k++;
        unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
      }
    }
    AppendUtf8(text, unit);
  }
  if (end) *end = at;
  return text;
}

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t k = 0; k < a.size(); k++) {
    auto upper = [](char c) { return c >= 'a' && c <= 'z' ? (char)(c - 'a' + 'A') : c; };
    if (upper(a[k]) != upper(b[k])) return false;
  }
  return true;
}

bool SameId(const ResourceId& a, const ResourceId& b) {
  if (a.index() != b.index()) return false;
  if (a.index() == 0) return std::get<0>(a) == std::get<0>(b);
  return SameName(std::get<1>(a), std::get<1>(b));
}

struct DataDirectory {
  uint32_t rva = 0;
  uint32_t size = 0;
};

class ImageReader {
 public:
  ImageReader(const Reader& in, const std::vector<PeSection>& sections)
      : in_(in), sections_(sections) {}

  uint64_t Offset(uint32_t rva, const char* what) const {
    for (const PeSection& s : sections_) {
      uint32_t extent = s.virtualSize > s.rawSize ? s.virtualSize : s.rawSize;
      if (rva >= s.virtualAddress && rva - s.virtualAddress < extent) {
        uint32_t inside = rva - s.virtualAddress;
        if (inside >= s.rawSize) Malformed(std::string(what) + " has no bytes in the file");
        return (uint64_t)s.rawOffset + inside;
      }
    }
    Malformed(std::string(what) + " lies in no section");
  }

  std::string Ascii(uint32_t rva, const char* what) const {
    uint64_t at = Offset(rva, what);
    std::string text;
    for (uint8_t c; (c = in_.U8(at)) != 0; at++) text += (char)c;
    return text;
  }

  const Reader& in() const { return in_; }

 private:
  const Reader& in_;
  const std::vector<PeSection>& sections_;
};

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

// Three levels: type, name, language. Offsets inside the tree count from its root.
std::vector<PeResource> ReadResources(const ImageReader& image, DataDirectory dir) {
  std::vector<PeResource> resources;
  if (dir.rva == 0) return resources;
  const Reader& in = image.in();
  uint64_t root = image.Offset(dir.rva, "the resource directory");

  auto entryId = [&](uint32_t field) -> ResourceId {
    if (!(field & 0x80000000u)) return (uint16_t)field;
    uint64_t at = root + (field & 0x7FFFFFFFu);
    return ReadUtf16(in, at + 2, in.U16(at), nullptr);
  };
  struct Entry {
    ResourceId id;
    uint32_t target;
  };
  auto entries = [&](uint32_t tableOffset) {
    uint64_t at = root + tableOffset;
    int count = in.U16(at + 12) + in.U16(at + 14);
    std::vector<Entry> list;
    list.reserve((size_t)count);
    for (uint64_t k = 0; k < (uint64_t)count; k++)
      list.push_back({entryId(in.U32(at + 16 + 8 * k)), in.U32(at + 20 + 8 * k)});
    return list;
  };
  auto subdirectory = [](uint32_t target) {
    if (!(target & 0x80000000u)) Malformed("a resource directory entry lacks its subdirectory");
    return target & 0x7FFFFFFFu;
  };

  for (const Entry& type : entries(0)) {
    for (const Entry& name : entries(subdirectory(type.target))) {
      for (const Entry& language : entries(subdirectory(name.target))) {
        if (language.target & 0x80000000u) Malformed("a resource tree deeper than three levels");
        uint64_t entry = root + language.target;
        PeResource resource;
        resource.type = type.id;
        resource.name = name.id;
        resource.language =
            std::holds_alternative<uint16_t>(language.id) ? std::get<uint16_t>(language.id) : 0;
        uint32_t rva = in.U32(entry);
        uint32_t size = in.U32(entry + 4);
        resource.fileOffset = (uint32_t)image.Offset(rva, "resource data");
        std::span<const uint8_t> data = in.Slice(resource.fileOffset, size, "resource data");
        resource.bytes.assign(data.begin(), data.end());
        resources.push_back(std::move(resource));
      }
    }
  }
  return resources;
}

}  // namespace

namespace {

// The fixed headers, the data directories and the section table.
struct Headers {
  uint16_t machine = 0;
  uint16_t subsystem = 0;
  uint16_t characteristics = 0;
  std::vector<DataDirectory> directories;
  std::vector<PeSection> sections;

  DataDirectory Directory(uint32_t index) const {
    return index < directories.size() ? directories[index] : DataDirectory{};
  }
};

Headers ReadHeaders(const Reader& in, std::span<const uint8_t> file) {
  if (in.size() < 64 || file[0] != 'M' || file[1] != 'Z') Malformed("no MZ header");
  uint32_t pe = in.U32(0x3C);
  in.Need(pe, 24, "the PE header");
  if (file[pe] != 'P' || file[pe + 1] != 'E' || file[pe + 2] != 0 || file[pe + 3] != 0)
    Malformed("no PE signature");

  Headers headers;
  headers.machine = in.U16(pe + 4);
  uint16_t sectionCount = in.U16(pe + 6);
  uint16_t optionalSize = in.U16(pe + 20);
  headers.characteristics = in.U16(pe + 22);

  uint64_t optional = pe + 24;
  in.Need(optional, optionalSize, "the optional header");
  if (optionalSize < 96 || in.U16(optional) != 0x10B) Malformed("not a PE32 optional header");
  headers.subsystem = in.U16(optional + 68);
  uint32_t directoryCount = in.U32(optional + 92);
  for (uint32_t index = 0; index < directoryCount && 96 + 8 * (index + 1) <= optionalSize;
       index++) {
    headers.directories.push_back({in.U32(optional + 96 + 8 * (uint64_t)index),
                                   in.U32(optional + 100 + 8 * (uint64_t)index)});
  }

  uint64_t table = optional + optionalSize;
  in.Need(table, (uint64_t)sectionCount * 40, "the section table");
  for (uint16_t k = 0; k < sectionCount; k++) {
    uint64_t at = table + 40 * (uint64_t)k;
    PeSection section;
    for (int c = 0; c < 8 && file[at + c] != 0; c++) section.name += (char)file[at + c];
    section.virtualSize = in.U32(at + 8);
    section.virtualAddress = in.U32(at + 12);
    section.rawSize = in.U32(at + 16);
    section.rawOffset = in.U32(at + 20);
    section.characteristics = in.U32(at + 36);
    headers.sections.push_back(section);
  }
  return headers;
}

constexpr uint32_t kCertificateDirectory = 4;

}  // namespace

PeImage PeImage::Parse(std::span<const uint8_t> file) {
  Reader in(file);
  Headers headers = ReadHeaders(in, file);
  PeImage image;
  image.machine_ = headers.machine;
  image.subsystem_ = headers.subsystem;
  image.characteristics_ = headers.characteristics;
  image.sections_ = std::move(headers.sections);

  ImageReader reader(in, image.sections_);
  image.exportedNames_ = ReadExports(reader, headers.Directory(0));
  image.importedDlls_ = ReadImports(reader, headers.Directory(1));
  image.resources_ = ReadResources(reader, headers.Directory(2));
  return image;
}

PeFileLayout ReadPeFileLayout(std::span<const uint8_t> file) {
  Reader in(file);
  Headers headers = ReadHeaders(in, file);
  PeFileLayout layout;
  for (const PeSection& s : headers.sections) {
    if (s.rawSize > 0)
      layout.sectionsEnd = std::max(layout.sectionsEnd, (uint64_t)s.rawOffset + s.rawSize);
  }
  DataDirectory certificates = headers.Directory(kCertificateDirectory);
  layout.certificateOffset = certificates.rva;  // a file offset for this directory alone
  layout.certificateSize = certificates.size;
  return layout;
}

std::optional<PeResource> PeImage::FindResource(const ResourceId& type,
                                                const ResourceId& name) const {
  for (const PeResource& resource : resources_) {
    if (SameId(resource.type, type) && SameId(resource.name, name)) return resource;
  }
  return std::nullopt;
}

namespace {

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

}  // namespace vexa
