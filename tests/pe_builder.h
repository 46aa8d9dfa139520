// Tiny Windows images made in the tests: a PE32 (or, with pe32Plus, a PE32+ x86-64) program
// of the sections given, in that order, from RVA 0x1000 on (section alignment 0x1000, file
// alignment 0x200). A resource section holds the tree of its leaves, a relocation section
// its blocks; data directories 2 and 5 point at them. The entry point is the first code
// section's start. For example:
//
//   testpe::Built image = testpe::Image({.sections = {testpe::Code({0xC3}),
//                                                     testpe::Data(".data", Text("WARNING")),
//                                                     testpe::Resources(leaves)}});
#pragma once

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "pack/pe_image.h"
#include "pack/pe_resources.h"

namespace testpe {

using Bytes = std::vector<uint8_t>;

inline constexpr uint32_t kSectionAlignment = 0x1000;
inline constexpr uint32_t kFileAlignment = 0x200;
inline constexpr uint16_t kMachineAmd64 = 0x8664;

inline constexpr uint32_t kCodeSection = 0x60000020;      // code, execute, read
inline constexpr uint32_t kReadOnlySection = 0x40000040;  // initialized data, read
inline constexpr uint32_t kDataSection = 0xC0000040;      // initialized data, read, write
inline constexpr uint32_t kBssSection = 0xC0000080;       // uninitialized data, read, write
inline constexpr uint32_t kRelocSection = 0x42000040;     // initialized, discardable, read

// One block of base relocations: its page and its entries (type << 12 | offset).
struct RelocationBlock {
  uint32_t page = 0;
  std::vector<uint16_t> entries = {};
};
inline constexpr uint16_t HighLow(uint16_t offset) { return (uint16_t)(0x3000 | offset); }

struct Section {
  std::string name = {};
  Bytes bytes = {};
  uint32_t characteristics = kReadOnlySection;
  uint32_t virtualSize = 0;  // 0: the bytes' size; more: the rest reads as zeros
  enum Kind { Plain, Resources, Relocations } kind = Plain;
  std::vector<vexa::ResourceLeaf> leaves = {};  // Resources
  std::vector<RelocationBlock> blocks = {};     // Relocations
};

inline Section Code(Bytes bytes) {
  return {.name = ".text", .bytes = std::move(bytes), .characteristics = kCodeSection};
}
inline Section Data(std::string name, Bytes bytes, uint32_t characteristics = kDataSection) {
  return {.name = std::move(name), .bytes = std::move(bytes), .characteristics = characteristics};
}
inline Section Bss(uint32_t size) {
  return {.name = ".bss", .characteristics = kBssSection, .virtualSize = size};
}
inline Section Resources(std::vector<vexa::ResourceLeaf> leaves, std::string name = ".rsrc") {
  return {.name = std::move(name), .kind = Section::Resources, .leaves = std::move(leaves)};
}
inline Section Relocations(std::vector<RelocationBlock> blocks) {
  return {.name = ".reloc",
          .characteristics = kRelocSection,
          .kind = Section::Relocations,
          .blocks = std::move(blocks)};
}

// A data directory pointed at a section by name (offset and size within it).
struct Pointer {
  uint32_t directory = 0;
  std::string section;
  uint32_t offset = 0, size = 0;
};

struct Options {
  bool pe32Plus = false;
  uint16_t machine = 0;  // 0: i386 for PE32, x86-64 for PE32+
  uint16_t subsystem = vexa::kSubsystemGui;
  bool dll = false;
  std::vector<Section> sections = {Code({0xC3})};  // ret
  std::vector<Pointer> directories = {};           // besides 2 and 5
  bool checksum = true;                            // false: the CheckSum field stays 0
};

struct Built {
  Bytes bytes = {};
  std::vector<vexa::PeSection> sections;  // as the section table says
  uint64_t imageBase = 0;
  uint32_t optionalHeader = 0;  // its file offset

  const vexa::PeSection& Find(const std::string& name) const {
    for (const vexa::PeSection& s : sections) {
      if (s.name == name) return s;
    }
    throw std::invalid_argument("no section " + name);
  }
};

namespace detail {
inline uint64_t AlignUp(uint64_t value, uint64_t alignment) {
  return (value + alignment - 1) / alignment * alignment;
}
inline void Put(Bytes& out, uint64_t at, uint64_t value, int size) {
  for (int k = 0; k < size; k++) out.at(at + k) = (uint8_t)(value >> (8 * k));
}
inline Bytes RelocationBytes(const std::vector<RelocationBlock>& blocks) {
  Bytes out;
  for (const RelocationBlock& block : blocks) {
    std::vector<uint16_t> entries = block.entries;
    if (entries.size() % 2) entries.push_back(0);  // blocks end on a 4-byte boundary
    uint64_t at = out.size();
    out.resize(at + 8 + 2 * entries.size());
    Put(out, at, block.page, 4);
    Put(out, at + 4, 8 + 2 * entries.size(), 4);
    for (size_t k = 0; k < entries.size(); k++) Put(out, at + 8 + 2 * k, entries[k], 2);
  }
  return out;
}
}  // namespace detail

inline Built Image(const Options& options) {
  using detail::AlignUp;
  using detail::Put;
  const bool plus = options.pe32Plus;
  const uint32_t optionalSize = plus ? 240 : 224, peAt = 0x40;
  const uint32_t tableAt = peAt + 24 + optionalSize;
  const uint32_t headersSize =
      (uint32_t)AlignUp(tableAt + 40 * options.sections.size(), kFileAlignment);

  Built built;
  built.imageBase = plus ? 0x140000000 : 0x400000;
  built.optionalHeader = peAt + 24;
  std::vector<Bytes> contents;
  uint32_t rva = kSectionAlignment, raw = headersSize;
  uint64_t code = 0, data = 0, bss = 0;
  uint32_t entry = 0, baseOfCode = 0, baseOfData = 0, resources = 0, relocations = 0;
  uint32_t resourcesSize = 0, relocationsSize = 0;
  for (const Section& s : options.sections) {
    Bytes bytes = s.kind == Section::Resources     ? vexa::BuildResourceSection(s.leaves, rva)
                  : s.kind == Section::Relocations ? detail::RelocationBytes(s.blocks)
                                                   : s.bytes;
    vexa::PeSection header{s.name,
                           rva,
                           std::max<uint32_t>(s.virtualSize, (uint32_t)bytes.size()),
                           0,
                           (uint32_t)AlignUp(bytes.size(), kFileAlignment),
                           s.characteristics};
    if (header.rawSize) header.rawOffset = raw;
    if (s.kind == Section::Resources) resources = rva, resourcesSize = (uint32_t)bytes.size();
    if (s.kind == Section::Relocations) relocations = rva, relocationsSize = (uint32_t)bytes.size();
    if (s.characteristics & 0x20) {
      code += header.rawSize;
      if (!entry) entry = baseOfCode = rva;
    } else if (!baseOfData) {
      baseOfData = rva;
    }
    if (s.characteristics & 0x40) data += header.rawSize;
    if (s.characteristics & 0x80) bss += AlignUp(header.virtualSize, kFileAlignment);
    built.sections.push_back(header);
    contents.push_back(std::move(bytes));
    rva += (uint32_t)AlignUp(std::max<uint32_t>(header.virtualSize, 1), kSectionAlignment);
    raw += header.rawSize;
  }

  Bytes& out = built.bytes;
  out.assign(raw, 0);
  out[0] = 'M', out[1] = 'Z';
  Put(out, 0x3C, peAt, 4);
  Put(out, peAt, 0x00004550, 4);  // "PE\0\0"
  Put(out, peAt + 4,
      options.machine ? options.machine
      : plus          ? kMachineAmd64
                      : vexa::kMachineI386,
      2);
  Put(out, peAt + 6, options.sections.size(), 2);
  Put(out, peAt + 20, optionalSize, 2);
  // Executable; 32-bit words or large addresses; relocations stripped when there are none.
  Put(out, peAt + 22,
      0x0002 | (plus ? 0x0020 : 0x0100) | (relocations ? 0 : 0x0001) | (options.dll ? 0x2000 : 0),
      2);

  const uint32_t opt = built.optionalHeader;
  Put(out, opt, plus ? 0x20B : 0x10B, 2);
  Put(out, opt + 4, code, 4);
  Put(out, opt + 8, data, 4);
  Put(out, opt + 12, bss, 4);
  Put(out, opt + 16, entry, 4);
  Put(out, opt + 20, baseOfCode, 4);
  if (plus) {
    Put(out, opt + 24, built.imageBase, 8);
  } else {
    Put(out, opt + 24, baseOfData, 4);
    Put(out, opt + 28, built.imageBase, 4);
  }
  Put(out, opt + 32, kSectionAlignment, 4);
  Put(out, opt + 36, kFileAlignment, 4);
  Put(out, opt + 40, 4, 2);             // operating system 4.0
  Put(out, opt + 48, plus ? 5 : 4, 2);  // subsystem 4.0 or 5.2
  Put(out, opt + 50, plus ? 2 : 0, 2);
  Put(out, opt + 56, rva, 4);  // SizeOfImage: the last section's aligned end
  Put(out, opt + 60, headersSize, 4);
  Put(out, opt + 68, options.subsystem, 2);
  Put(out, opt + 70, 0x0100 | (relocations ? 0x0040 : 0), 2);  // NX, dynamic base
  const int wide = plus ? 8 : 4;                               // stack and heap sizes
  uint32_t at = opt + 72;
  for (uint64_t size : {0x200000, 0x1000, 0x100000, 0x1000}) Put(out, at, size, wide), at += wide;
  Put(out, at + 4, 16, 4);  // NumberOfRvaAndSizes after LoaderFlags
  const uint32_t directories = at + 8;
  auto point = [&](uint32_t index, uint32_t where, uint32_t size) {
    Put(out, directories + 8 * index, where, 4);
    Put(out, directories + 8 * index + 4, size, 4);
  };
  if (resources) point(2, resources, resourcesSize);
  if (relocations) point(5, relocations, relocationsSize);
  for (const Pointer& p : options.directories)
    point(p.directory, built.Find(p.section).virtualAddress + p.offset, p.size);

  for (size_t k = 0; k < built.sections.size(); k++) {
    const vexa::PeSection& s = built.sections[k];
    uint32_t entryAt = tableAt + 40 * (uint32_t)k;
    std::copy_n(s.name.begin(), std::min<size_t>(s.name.size(), 8), out.begin() + entryAt);
    Put(out, entryAt + 8, s.virtualSize, 4);
    Put(out, entryAt + 12, s.virtualAddress, 4);
    Put(out, entryAt + 16, s.rawSize, 4);
    Put(out, entryAt + 20, s.rawOffset, 4);
    Put(out, entryAt + 36, s.characteristics, 4);
    std::copy(contents[k].begin(), contents[k].end(), out.begin() + s.rawOffset);
  }
  if (options.checksum) vexa::WriteHeaderChecksum(out);
  return built;
}

// Sets data directory index of a built image to rva and size.
inline void SetDirectory(Bytes& image, uint32_t index, uint32_t rva, uint32_t size) {
  uint32_t opt = (uint32_t)(image.at(0x3C) | image.at(0x3D) << 8) + 24;
  uint32_t at = opt + (image.at(opt + 1) == 0x02 ? 112 : 96) + 8 * index;
  detail::Put(image, at, rva, 4);
  detail::Put(image, at + 4, size, 4);
}

}  // namespace testpe
