// The pieces the PE readers share (pack/pe_image.cpp, pack/pe_resources.cpp and the tests'
// parsers): bounds-checked reads, the headers and section table, the resource tree. Not part
// of the tool's interface. Malformed input throws std::runtime_error.
#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "pack/pe_image.h"

namespace vexa::pe {

// Throws "not a readable PE32 image: WHAT".
[[noreturn]] void Malformed(const std::string& what);

// Bounds-checked little-endian reads from a byte range.
class Reader {
 public:
  explicit Reader(std::span<const uint8_t> bytes) : bytes_(bytes) {}

  size_t size() const { return bytes_.size(); }
  std::span<const uint8_t> bytes() const { return bytes_; }
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

// UTF-16 code units, count given or up to a zero unit, as UTF-8; *end receives the offset
// after them.
std::string ReadUtf16(const Reader& in, uint64_t offset, int64_t count, uint64_t* end);

// Resource types and names compare without regard to ASCII case, as the system's lookup does.
bool SameId(const ResourceId& a, const ResourceId& b);

struct DataDirectory {
  uint32_t rva = 0;
  uint32_t size = 0;
};

inline constexpr uint32_t kResourceDirectory = 2;
inline constexpr uint32_t kCertificateDirectory = 4;
inline constexpr uint32_t kRelocationDirectory = 5;

// Where the PE signature lies, after checking the MZ header and the signature; and the
// optional header's magic (0x10B PE32, 0x20B PE32+).
uint64_t FindPeHeader(const Reader& in);
uint16_t OptionalMagic(const Reader& in);

// The file header, the data directories and the section table of a PE32 image, and where
// they lie. Throws when they are not those of a PE32 image.
struct Headers {
  uint64_t peOffset = 0;        // of "PE\0\0"
  uint64_t optionalOffset = 0;  // of the optional header
  uint16_t optionalSize = 0;
  uint64_t sectionTableOffset = 0;
  uint16_t machine = 0;
  uint16_t subsystem = 0;
  uint16_t characteristics = 0;
  std::vector<DataDirectory> directories;
  std::vector<PeSection> sections;

  DataDirectory Directory(uint32_t index) const {
    return index < directories.size() ? directories[index] : DataDirectory{};
  }
};
Headers ReadHeaders(const Reader& in);

// Maps addresses of a loaded image (RVAs) to file offsets.
class ImageReader {
 public:
  ImageReader(const Reader& in, const std::vector<PeSection>& sections)
      : in_(in), sections_(sections) {}

  uint64_t Offset(uint32_t rva, const char* what) const;
  std::string Ascii(uint32_t rva, const char* what) const;  // zero-terminated
  const Reader& in() const { return in_; }

 private:
  const Reader& in_;
  const std::vector<PeSection>& sections_;
};

// The resource tree's three levels (type, name, language) in the order of its tables. Each
// table is visited once; a table reached twice, or data that add up to more than the file,
// throws, so that a hostile tree cannot make the reader loop or balloon. When used is given,
// it receives the file range of every table, name, data entry and data blob the tree holds.
struct FileRange {
  uint64_t offset = 0;
  uint64_t length = 0;
};
std::vector<PeResource> ReadResources(const ImageReader& image, DataDirectory directory,
                                      std::vector<FileRange>* used = nullptr,
                                      bool withBytes = true);

}  // namespace vexa::pe
