#include "pack/pe_image.h"

#include <algorithm>
#include <set>
#include <stdexcept>

#include "pack/pe_reader.h"

namespace vexa {
namespace pe {

void Malformed(const std::string& what) {
  throw std::runtime_error("not a readable PE32 image: " + what);
}

namespace {

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

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t k = 0; k < a.size(); k++) {
    auto upper = [](char c) { return c >= 'a' && c <= 'z' ? (char)(c - 'a' + 'A') : c; };
    if (upper(a[k]) != upper(b[k])) return false;
  }
  return true;
}

}  // namespace

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

bool SameId(const ResourceId& a, const ResourceId& b) {
  if (a.index() != b.index()) return false;
  if (a.index() == 0) return std::get<0>(a) == std::get<0>(b);
  return SameName(std::get<1>(a), std::get<1>(b));
}

uint64_t FindPeHeader(const Reader& in) {
  if (in.size() < 64 || in.U8(0) != 'M' || in.U8(1) != 'Z') Malformed("no MZ header");
  uint32_t pe = in.U32(0x3C);
  in.Need(pe, 24, "the PE header");
  if (in.U8(pe) != 'P' || in.U8(pe + 1) != 'E' || in.U8(pe + 2) != 0 || in.U8(pe + 3) != 0)
    Malformed("no PE signature");
  return pe;
}

uint16_t OptionalMagic(const Reader& in) {
  uint64_t pe = FindPeHeader(in);
  if (in.U16(pe + 20) < 2) Malformed("no optional header");
  return in.U16(pe + 24);
}

Headers ReadHeaders(const Reader& in) {
  Headers headers;
  uint64_t pe = headers.peOffset = FindPeHeader(in);
  headers.machine = in.U16(pe + 4);
  uint16_t sectionCount = in.U16(pe + 6);
  uint16_t optionalSize = headers.optionalSize = in.U16(pe + 20);
  headers.characteristics = in.U16(pe + 22);

  uint64_t optional = headers.optionalOffset = pe + 24;
  in.Need(optional, optionalSize, "the optional header");
  if (optionalSize < 96 || in.U16(optional) != 0x10B) Malformed("not a PE32 optional header");
  headers.subsystem = in.U16(optional + 68);
  uint32_t directoryCount = in.U32(optional + 92);
  for (uint32_t index = 0; index < directoryCount && 96 + 8 * (index + 1) <= optionalSize;
       index++) {
    headers.directories.push_back({in.U32(optional + 96 + 8 * (uint64_t)index),
                                   in.U32(optional + 100 + 8 * (uint64_t)index)});
  }

  uint64_t table = headers.sectionTableOffset = optional + optionalSize;
  in.Need(table, (uint64_t)sectionCount * 40, "the section table");
  for (uint16_t k = 0; k < sectionCount; k++) {
    uint64_t at = table + 40 * (uint64_t)k;
    PeSection section;
    for (int c = 0; c < 8 && in.U8(at + c) != 0; c++) section.name += (char)in.U8(at + c);
    section.virtualSize = in.U32(at + 8);
    section.virtualAddress = in.U32(at + 12);
    section.rawSize = in.U32(at + 16);
    section.rawOffset = in.U32(at + 20);
    section.characteristics = in.U32(at + 36);
    headers.sections.push_back(section);
  }
  return headers;
}

uint64_t ImageReader::Offset(uint32_t rva, const char* what) const {
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

std::string ImageReader::Ascii(uint32_t rva, const char* what) const {
  uint64_t at = Offset(rva, what);
  std::string text;
  for (uint8_t c; (c = in_.U8(at)) != 0; at++) text += (char)c;
  return text;
}

// Three levels: type, name, language. Offsets inside the tree count from its root.
std::vector<PeResource> ReadResources(const ImageReader& image, DataDirectory directory,
                                      std::vector<FileRange>* used, bool withBytes) {
  std::vector<PeResource> resources;
  if (directory.rva == 0) return resources;
  const Reader& in = image.in();
  uint64_t root = image.Offset(directory.rva, "the resource directory");
  auto use = [&](uint64_t offset, uint64_t length) {
    if (used) used->push_back({offset, length});
  };

  auto entryId = [&](uint32_t field) -> ResourceId {
    if (!(field & 0x80000000u)) return (uint16_t)field;
    uint64_t at = root + (field & 0x7FFFFFFFu);
    uint16_t length = in.U16(at);
    use(at, 2 + 2 * (uint64_t)length);
    return ReadUtf16(in, at + 2, length, nullptr);
  };
  struct Entry {
    ResourceId id;
    uint32_t target;
  };
  std::set<uint32_t> tables;  // every table read so far
  auto entries = [&](uint32_t tableOffset) {
    if (!tables.insert(tableOffset).second)
      Malformed("a resource directory table is reached twice");
    uint64_t at = root + tableOffset;
    uint64_t count = (uint64_t)in.U16(at + 12) + in.U16(at + 14);
    in.Need(at, 16 + 8 * count, "a resource directory table");
    use(at, 16 + 8 * count);
    std::vector<Entry> list;
    list.reserve(count);
    for (uint64_t k = 0; k < count; k++)
      list.push_back({entryId(in.U32(at + 16 + 8 * k)), in.U32(at + 20 + 8 * k)});
    return list;
  };
  auto subdirectory = [](uint32_t target) {
    if (!(target & 0x80000000u)) Malformed("a resource directory entry lacks its subdirectory");
    return target & 0x7FFFFFFFu;
  };

  uint64_t total = 0;
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
        in.Need(entry, 16, "a resource data entry");
        use(entry, 16);
        uint32_t rva = in.U32(entry);
        uint32_t size = in.U32(entry + 4);
        resource.codePage = in.U32(entry + 8);
        total += size;
        if (total > in.size()) Malformed("the resources' data add up to more than the file");
        resource.fileOffset = (uint32_t)image.Offset(rva, "resource data");
        resource.size = size;
        if (withBytes) {
          std::span<const uint8_t> data = in.Slice(resource.fileOffset, size, "resource data");
          resource.bytes.assign(data.begin(), data.end());
        }
        use(resource.fileOffset, size);
        resources.push_back(std::move(resource));
      }
    }
  }
  return resources;
}

}  // namespace pe

PeImage PeImage::Parse(std::span<const uint8_t> file) {
  pe::Reader in(file);
  pe::Headers headers = pe::ReadHeaders(in);
  PeImage image;
  image.machine_ = headers.machine;
  image.subsystem_ = headers.subsystem;
  image.characteristics_ = headers.characteristics;
  image.sections_ = std::move(headers.sections);

  pe::ImageReader reader(in, image.sections_);
  image.resources_ = pe::ReadResources(reader, headers.Directory(pe::kResourceDirectory));
  return image;
}

PeFileLayout ReadPeFileLayout(std::span<const uint8_t> file) {
  pe::Reader in(file);
  pe::Headers headers = pe::ReadHeaders(in);
  PeFileLayout layout;
  layout.machine = headers.machine;
  layout.subsystem = headers.subsystem;
  layout.characteristics = headers.characteristics;
  for (const PeSection& s : headers.sections) {
    if (s.rawSize > 0)
      layout.sectionsEnd = std::max(layout.sectionsEnd, (uint64_t)s.rawOffset + s.rawSize);
  }
  pe::DataDirectory certificates = headers.Directory(pe::kCertificateDirectory);
  layout.certificateOffset = certificates.rva;  // a file offset for this directory alone
  layout.certificateSize = certificates.size;
  return layout;
}

bool IsPe32Plus(std::span<const uint8_t> file) {
  try {
    return pe::OptionalMagic(pe::Reader(file)) == 0x20B;
  } catch (const std::runtime_error&) {
    return false;
  }
}

std::vector<PeResource> ReadResourcePlaces(std::span<const uint8_t> file) {
  pe::Reader in(file);
  pe::Headers headers = pe::ReadHeaders(in);
  pe::ImageReader reader(in, headers.sections);
  return pe::ReadResources(reader, headers.Directory(pe::kResourceDirectory), nullptr, false);
}

std::optional<PeResource> PeImage::FindResource(const ResourceId& type,
                                                const ResourceId& name) const {
  for (const PeResource& resource : resources_) {
    if (pe::SameId(resource.type, type) && pe::SameId(resource.name, name)) return resource;
  }
  return std::nullopt;
}

}  // namespace vexa
