#include "pack/pe_resources.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "pack/pe_reader.h"

namespace vexa {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kFileDll = 0x2000;
constexpr uint32_t kScnInitializedData = 0x40;
constexpr uint32_t kDebugDirectory = 6;
constexpr uint16_t kRelocAbsolute = 0, kRelocHighLow = 3;

[[noreturn]] void Refuse(ImageFault fault, const std::string& why) {
  throw ImageEditError(fault, why);
}

// Runs read(); a reader's std::runtime_error becomes ImageFault::Malformed.
template <typename Read>
auto Readable(Read read) {
  try {
    return read();
  } catch (const ImageEditError&) {
    throw;
  } catch (const std::runtime_error& e) {
    Refuse(ImageFault::Malformed, e.what());
  }
}

std::string Hex(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llX", (unsigned long long)value);
  return text;
}

uint64_t AlignUp(uint64_t value, uint64_t alignment) {
  return (value + alignment - 1) / alignment * alignment;
}

bool PowerOfTwo(uint32_t value) { return value != 0 && (value & (value - 1)) == 0; }

void Put16(Bytes& out, uint64_t at, uint16_t value) {
  out[at] = (uint8_t)value;
  out[at + 1] = (uint8_t)(value >> 8);
}
void Put32(Bytes& out, uint64_t at, uint32_t value) {
  Put16(out, at, (uint16_t)value);
  Put16(out, at + 2, (uint16_t)(value >> 16));
}

// ---------------------------------------------------------------------------------------
// The new section

// UTF-8 (as the readers make it, lone surrogates included) to UTF-16 code units.
std::vector<uint16_t> Utf16(const std::string& text) {
  std::vector<uint16_t> units;
  for (size_t k = 0; k < text.size();) {
    auto byte = (uint8_t)text[k];
    int extra = byte < 0x80 ? 0 : byte >= 0xF0 ? 3 : byte >= 0xE0 ? 2 : byte >= 0xC0 ? 1 : -1;
    if (extra < 0 || k + extra >= text.size())
      throw std::invalid_argument("a resource name is not UTF-8");
    uint32_t code = extra == 0 ? byte : byte & (0x3F >> extra);
    for (int c = 1; c <= extra; c++) {
      auto next = (uint8_t)text[k + c];
      if ((next & 0xC0) != 0x80) throw std::invalid_argument("a resource name is not UTF-8");
      code = code << 6 | (next & 0x3F);
    }
    k += 1 + extra;
    if (code >= 0x10000) {
      units.push_back((uint16_t)(0xD800 + ((code - 0x10000) >> 10)));
      units.push_back((uint16_t)(0xDC00 + ((code - 0x10000) & 0x3FF)));
    } else {
      units.push_back((uint16_t)code);
    }
  }
  if (units.size() > 0xFFFF) throw std::invalid_argument("a resource name is too long");
  return units;
}

// A directory entry's id; named entries sort before ordinals, names by their upper-cased
// units (as the system looks them up), ordinals by value.
struct Key {
  bool named = false;
  uint16_t ordinal = 0;
  std::vector<uint16_t> name, upper;

  explicit Key(const ResourceId& id) {
    if (std::holds_alternative<uint16_t>(id)) {
      ordinal = std::get<uint16_t>(id);
      return;
    }
    named = true;
    name = Utf16(std::get<std::string>(id));
    upper = name;
    for (uint16_t& unit : upper) {
      if (unit >= 'a' && unit <= 'z') unit = (uint16_t)(unit - 'a' + 'A');
    }
  }
  bool operator<(const Key& other) const {
    if (named != other.named) return named;
    return named ? upper < other.upper : ordinal < other.ordinal;
  }
  bool operator==(const Key& other) const {
    return named == other.named && (named ? upper == other.upper : ordinal == other.ordinal);
  }
};

// The tree to write, and where its parts go in the section.
struct NameNode {
  Key key;
  std::vector<const ResourceLeaf*> languages;
  uint64_t table = 0, string = 0;
};
struct TypeNode {
  Key key;
  std::vector<NameNode> names;
  uint64_t table = 0, string = 0;
};

std::string Describe(const ResourceLeaf& leaf) {
  auto id = [](const ResourceId& id) {
    return std::holds_alternative<uint16_t>(id) ? "#" + std::to_string(std::get<uint16_t>(id))
                                                : "\"" + std::get<std::string>(id) + "\"";
  };
  return id(leaf.type) + "/" + id(leaf.name);
}

std::vector<TypeNode> Tree(const std::vector<ResourceLeaf>& leaves) {
  struct Sorted {
    Key type, name;
    const ResourceLeaf* leaf;
  };
  std::vector<Sorted> sorted;
  sorted.reserve(leaves.size());
  for (const ResourceLeaf& leaf : leaves) sorted.push_back({Key(leaf.type), Key(leaf.name), &leaf});
  std::stable_sort(sorted.begin(), sorted.end(), [](const Sorted& a, const Sorted& b) {
    if (!(a.type == b.type)) return a.type < b.type;
    if (!(a.name == b.name)) return a.name < b.name;
    return a.leaf->language < b.leaf->language;
  });
  std::vector<TypeNode> types;
  for (const Sorted& s : sorted) {
    if (types.empty() || !(types.back().key == s.type)) types.push_back({s.type, {}});
    if (types.back().key.name != s.type.name)
      throw std::invalid_argument("two spellings of one resource type: " + Describe(*s.leaf));
    std::vector<NameNode>& names = types.back().names;
    if (names.empty() || !(names.back().key == s.name)) names.push_back({s.name, {}});
    if (names.back().key.name != s.name.name)
      throw std::invalid_argument("two spellings of one resource name: " + Describe(*s.leaf));
    std::vector<const ResourceLeaf*>& languages = names.back().languages;
    if (!languages.empty() && languages.back()->language == s.leaf->language)
      throw std::invalid_argument("two resources " + Describe(*s.leaf) + " of language " +
                                  std::to_string(s.leaf->language));
    languages.push_back(s.leaf);
  }
  return types;
}

uint64_t TableSize(size_t entries) { return 16 + 8 * (uint64_t)entries; }

// A directory table's header: all fields 0 but its counts of named and ordinal entries.
template <typename Node, typename Named>
void WriteTable(Bytes& out, uint64_t at, const std::vector<Node>& nodes, Named named) {
  size_t names = (size_t)std::count_if(nodes.begin(), nodes.end(), named);
  if (names > 0xFFFF || nodes.size() - names > 0xFFFF)
    throw std::invalid_argument("more than 65535 entries of one kind in a resource directory");
  Put16(out, at + 12, (uint16_t)names);
  Put16(out, at + 14, (uint16_t)(nodes.size() - names));
}

// Entry k of the table at `table`: its id (a name's offset or an ordinal), then its target
// (a subdirectory's offset with the top bit set, or a data entry's offset).
void WriteEntry(Bytes& out, uint64_t table, size_t k, const Key& key, uint64_t string,
                uint64_t target, bool subdirectory) {
  uint64_t at = table + 16 + 8 * (uint64_t)k;
  if (key.named) {
    Put32(out, at, 0x80000000u | (uint32_t)string);
    Put16(out, string, (uint16_t)key.name.size());
    for (size_t c = 0; c < key.name.size(); c++) Put16(out, string + 2 + 2 * c, key.name[c]);
  } else {
    Put32(out, at, key.ordinal);
  }
  Put32(out, at + 4, (uint32_t)target | (subdirectory ? 0x80000000u : 0));
}

}  // namespace

std::vector<uint8_t> BuildResourceSection(const std::vector<ResourceLeaf>& leaves,
                                          uint32_t sectionRva) {
  std::vector<TypeNode> types = Tree(leaves);

  // Where everything goes: the tables breadth-first, the names, the data entries, the data.
  uint64_t at = TableSize(types.size());
  for (TypeNode& type : types) {
    type.table = at;
    at += TableSize(type.names.size());
  }
  std::vector<const ResourceLeaf*> order;  // tree order
  for (TypeNode& type : types) {
    for (NameNode& name : type.names) {
      name.table = at;
      at += TableSize(name.languages.size());
      order.insert(order.end(), name.languages.begin(), name.languages.end());
    }
  }
  for (TypeNode& type : types) {
    if (type.key.named) type.string = at, at += 2 + 2 * (uint64_t)type.key.name.size();
  }
  for (TypeNode& type : types) {
    for (NameNode& name : type.names) {
      if (name.key.named) name.string = at, at += 2 + 2 * (uint64_t)name.key.name.size();
    }
  }
  const uint64_t entries = AlignUp(at, 4);
  at = entries + 16 * (uint64_t)order.size();
  std::vector<uint64_t> data;
  for (const ResourceLeaf* leaf : order) {
    at = AlignUp(at, 8);
    data.push_back(at);
    at += leaf->bytes.size();
  }
  if (at >= 0x80000000u || sectionRva + at > 0xFFFFFFFFu)
    throw std::length_error("the resources do not fit in a 32-bit image");

  Bytes out(at, 0);
  auto isNamed = [](const auto& node) { return node.key.named; };
  WriteTable(out, 0, types, isNamed);
  size_t leaf = 0;
  for (size_t t = 0; t < types.size(); t++) {
    const TypeNode& type = types[t];
    WriteEntry(out, 0, t, type.key, type.string, type.table, true);
    WriteTable(out, type.table, type.names, isNamed);
    for (size_t n = 0; n < type.names.size(); n++) {
      const NameNode& name = type.names[n];
      WriteEntry(out, type.table, n, name.key, name.string, name.table, true);
      WriteTable(out, name.table, name.languages, [](const ResourceLeaf*) { return false; });
      for (size_t l = 0; l < name.languages.size(); l++, leaf++) {
        WriteEntry(out, name.table, l, Key(ResourceId(name.languages[l]->language)), 0,
                   entries + 16 * (uint64_t)leaf, false);
      }
    }
  }
  for (size_t k = 0; k < order.size(); k++) {
    uint64_t entry = entries + 16 * (uint64_t)k;
    Put32(out, entry, (uint32_t)(sectionRva + data[k]));
    Put32(out, entry + 4, (uint32_t)order[k]->bytes.size());
    Put32(out, entry + 8, order[k]->codePage);
    std::copy(order[k]->bytes.begin(), order[k]->bytes.end(), out.begin() + (ptrdiff_t)data[k]);
  }
  return out;
}

namespace {

// ---------------------------------------------------------------------------------------
// The image to rebuild

const char* DirectoryName(uint32_t index) {
  static const char* const names[] = {
      "export directory",     "import directory",       "resource directory",
      "exception directory",  "certificate table",      "base relocations",
      "debug directory",      "architecture directory", "global pointer",
      "TLS directory",        "load configuration",     "bound import table",
      "import address table", "delay import directory", "CLR runtime header",
      "reserved directory"};
  return index < 16 ? names[index] : "data directory";
}

uint64_t VirtualExtent(const PeSection& s) { return s.virtualSize ? s.virtualSize : s.rawSize; }

// Reads the headers, after the checks that come before any other: readable, a PE32 i386 GUI
// program, not signed, not cut short.
pe::Headers ProgramHeaders(const pe::Reader& in) {
  uint16_t magic = Readable([&] { return pe::OptionalMagic(in); });
  if (magic != kPe32Magic) {
    Refuse(ImageFault::NotPe32GuiI386,
           "it is not a PE32 image: its optional header's magic is " + Hex(magic));
  }
  pe::Headers headers = Readable([&] { return pe::ReadHeaders(in); });
  if (headers.machine != kMachineI386) {
    Refuse(ImageFault::NotPe32GuiI386,
           "it is not an i386 program: its machine is " + Hex(headers.machine));
  }
  if (headers.subsystem != kSubsystemGui) {
    Refuse(ImageFault::NotPe32GuiI386,
           "it is not a GUI program: its subsystem is " + std::to_string(headers.subsystem));
  }
  if (headers.characteristics & kFileDll) Refuse(ImageFault::NotPe32GuiI386, "it is a DLL");
  pe::DataDirectory certificates = headers.Directory(pe::kCertificateDirectory);
  if (certificates.rva != 0 || certificates.size != 0) {
    Refuse(ImageFault::Signed, "it is signed (a certificate table of " +
                                   std::to_string(certificates.size) + " bytes at offset " +
                                   std::to_string(certificates.rva) +
                                   "); build from the unsigned stub and sign the result");
  }
  uint64_t sectionsEnd = 0;
  for (const PeSection& s : headers.sections) {
    if (s.rawSize > 0) sectionsEnd = std::max(sectionsEnd, (uint64_t)s.rawOffset + s.rawSize);
  }
  if (sectionsEnd > in.size()) {
    Refuse(ImageFault::Malformed, "it is cut short: its sections run to offset " +
                                      std::to_string(sectionsEnd) + ", but it has " +
                                      std::to_string(in.size()) + " bytes");
  }
  if (sectionsEnd < in.size()) {
    Refuse(ImageFault::CannotRebuild, std::to_string(in.size() - sectionsEnd) +
                                          " bytes follow its last section, from offset " +
                                          std::to_string(sectionsEnd) +
                                          " (an overlay the rebuild would not keep in place)");
  }
  return headers;
}

// The section holding rva, or -1.
int SectionAt(const std::vector<PeSection>& sections, uint64_t rva) {
  for (size_t k = 0; k < sections.size(); k++) {
    const PeSection& s = sections[k];
    if (rva >= s.virtualAddress && rva - s.virtualAddress < VirtualExtent(s)) return (int)k;
  }
  return -1;
}

// What lies in or behind the resource section and what points there, checked as far as
// this editor can: which sections follow it, the data directories, the entry point, the
// debug data, the base relocations, and the bytes of the section itself.
class Layout {
 public:
  Layout(const pe::Reader& in, const pe::Headers& headers) : in_(in), h_(headers) {
    uint64_t opt = h_.optionalOffset;
    imageBase_ = in.U32(opt + 28);
    sectionAlignment_ = in.U32(opt + 32);
    fileAlignment_ = in.U32(opt + 36);
    if (!PowerOfTwo(fileAlignment_) || !PowerOfTwo(sectionAlignment_) ||
        sectionAlignment_ < fileAlignment_) {
      Refuse(ImageFault::Malformed, "its alignments do not fit together (file " +
                                        Hex(fileAlignment_) + ", sections " +
                                        Hex(sectionAlignment_) + ")");
    }
    FindSections();
    CheckSectionOrder();
    CheckDirectories();
    CheckRelocations();
    CheckResourceSection();
    uint32_t symbols = in.U32(h_.peOffset + 12);
    if (symbols != 0) {
      Refuse(ImageFault::CannotRebuild, "it carries a COFF symbol table at offset " +
                                            std::to_string(symbols) + "; strip it first");
    }
  }

  int resource() const { return resource_; }
  int relocation() const { return relocation_; }  // -1: none behind the resource section
  uint32_t sectionAlignment() const { return sectionAlignment_; }
  uint32_t fileAlignment() const { return fileAlignment_; }

 private:
  const PeSection& Rsrc() const { return h_.sections[resource_]; }
  std::string Where(uint64_t rva) const {
    int k = SectionAt(h_.sections, rva);
    return k < 0 ? "outside its sections" : "in " + h_.sections[k].name;
  }

  void FindSections() {
    pe::DataDirectory resources = h_.Directory(pe::kResourceDirectory);
    if (resources.rva == 0) Refuse(ImageFault::CannotRebuild, "it has no resource directory");
    resource_ = SectionAt(h_.sections, resources.rva);
    if (resource_ < 0) Refuse(ImageFault::Malformed, "its resource directory lies in no section");
    if (resources.rva != Rsrc().virtualAddress) {
      Refuse(ImageFault::CannotRebuild, "its resource directory (at " + Hex(resources.rva) +
                                            ") does not begin at the start of its section " +
                                            Rsrc().name + " (at " + Hex(Rsrc().virtualAddress) +
                                            ")");
    }
    pe::DataDirectory relocations = h_.Directory(pe::kRelocationDirectory);
    int holder = relocations.rva ? SectionAt(h_.sections, relocations.rva) : -1;
    if (holder == resource_)
      Refuse(ImageFault::CannotRebuild, "the base relocations lie in the resource section");
    for (size_t k = resource_ + 1; k < h_.sections.size(); k++) {
      if ((int)k != holder) {
        Refuse(ImageFault::CannotRebuild, "the resource section is followed by " +
                                              h_.sections[k].name +
                                              ", not only by the base relocations");
      }
      relocation_ = holder;
    }
    if (relocation_ >= 0) {
      const PeSection& s = h_.sections[relocation_];
      if ((uint64_t)relocations.rva + relocations.size > s.virtualAddress + VirtualExtent(s))
        Refuse(ImageFault::Malformed, "the base relocations run beyond their section");
    }
  }

  // Sections in address order on the section alignment, their data in the same order.
  void CheckSectionOrder() const {
    const std::vector<PeSection>& sections = h_.sections;
    for (size_t k = 0; k < sections.size(); k++) {
      const PeSection& s = sections[k];
      bool ordered = s.virtualAddress % sectionAlignment_ == 0 &&
                     (k == 0 || s.virtualAddress >= (uint64_t)sections[k - 1].virtualAddress +
                                                        VirtualExtent(sections[k - 1]));
      if (!ordered) {
        Refuse(ImageFault::CannotRebuild, "its sections are not laid out in address order: " +
                                              s.name + " at " + Hex(s.virtualAddress));
      }
      if (s.rawSize == 0 || (int)k == resource_) continue;
      bool before = (int)k < resource_ && (uint64_t)s.rawOffset + s.rawSize <= Rsrc().rawOffset;
      bool after = (int)k > resource_ && s.rawOffset >= (uint64_t)Rsrc().rawOffset + Rsrc().rawSize;
      if (!before && !after) {
        Refuse(ImageFault::CannotRebuild, "the data of its sections do not lie in address order: " +
                                              s.name + " at offset " + Hex(s.rawOffset));
      }
    }
  }

  // No data directory but the base relocations, and no entry point or debug data, in or
  // behind the resource section.
  void CheckDirectories() const {
    uint64_t start = Rsrc().virtualAddress;
    for (uint32_t k = 0; k < h_.directories.size(); k++) {
      pe::DataDirectory d = h_.directories[k];
      if (k == pe::kResourceDirectory || k == pe::kCertificateDirectory ||
          k == pe::kRelocationDirectory || (d.rva == 0 && d.size == 0))
        continue;
      if ((uint64_t)d.rva + d.size > start) {
        Refuse(ImageFault::CannotRebuild,
               std::string("the ") + DirectoryName(k) + " lies in or behind the resource section");
      }
    }
    uint32_t entry = in_.U32(h_.optionalOffset + 16);
    if (entry >= start) {
      Refuse(ImageFault::CannotRebuild, "the entry point (" + Hex(entry) + ", " + Where(entry) +
                                            ") lies in or behind the resource section");
    }
    pe::DataDirectory debug = h_.Directory(kDebugDirectory);
    if (debug.rva == 0 || debug.size == 0) return;
    pe::ImageReader image(in_, h_.sections);
    uint64_t at = Readable([&] { return image.Offset(debug.rva, "the debug directory"); });
    Readable([&] { in_.Need(at, debug.size, "the debug directory"); });
    for (uint64_t k = 0; k + 28 <= debug.size; k += 28) {
      uint32_t rva = in_.U32(at + k + 20), offset = in_.U32(at + k + 24);
      if ((rva != 0 && rva >= start) || (offset != 0 && offset >= Rsrc().rawOffset)) {
        Refuse(ImageFault::CannotRebuild, "the debug data of type " +
                                              std::to_string(in_.U32(at + k + 12)) +
                                              " lie in or behind the resource section");
      }
    }
  }

  // Every fixup patches a place before the resource section, and no patched address points
  // into the resource section or behind it: those move or are rewritten.
  void CheckRelocations() const {
    pe::DataDirectory relocations = h_.Directory(pe::kRelocationDirectory);
    if (relocations.rva == 0 || relocations.size == 0) return;
    pe::ImageReader image(in_, h_.sections);
    uint64_t at = Readable([&] { return image.Offset(relocations.rva, "the base relocations"); });
    Readable([&] { in_.Need(at, relocations.size, "the base relocations"); });
    uint64_t start = Rsrc().virtualAddress, end = 0;
    for (const PeSection& s : h_.sections) {
      end = std::max(end, AlignUp(s.virtualAddress + VirtualExtent(s), sectionAlignment_));
    }
    for (uint64_t block = 0; block + 8 <= relocations.size;) {
      uint32_t page = in_.U32(at + block), size = in_.U32(at + block + 4);
      if (size < 8 || size > relocations.size - block)
        Refuse(ImageFault::Malformed, "a block of its base relocations has a bad size");
      for (uint64_t k = 8; k + 2 <= size; k += 2) {
        uint16_t fixup = in_.U16(at + block + k);
        int type = fixup >> 12;
        if (type == kRelocAbsolute) continue;
        if (type != kRelocHighLow) {
          Refuse(ImageFault::CannotRebuild,
                 "it has a base relocation of type " + std::to_string(type) + ", not an i386 one");
        }
        uint64_t site = (uint64_t)page + (fixup & 0xFFF);
        if (site + 4 > start) {
          Refuse(ImageFault::CannotRebuild, "a base relocation patches " + Hex(site) + ", " +
                                                Where(site) +
                                                ", in or behind the resource section");
        }
        int holder = SectionAt(h_.sections, site);
        if (holder < 0) continue;
        const PeSection& s = h_.sections[holder];
        if (site - s.virtualAddress + 4 > s.rawSize) continue;  // no bytes in the file
        uint32_t target = in_.U32(s.rawOffset + (site - s.virtualAddress)) - imageBase_;
        if (target >= start && target < end) {
          Refuse(ImageFault::CannotRebuild, "the address at " + Hex(site) + " points to " +
                                                Hex(target) + ", " + Where(target) +
                                                ", which the rebuild moves or rewrites");
        }
      }
      block += size;
    }
  }

  // The resource section holds the resource tree and zeros, nothing else.
  void CheckResourceSection() const {
    std::vector<pe::FileRange> used;
    pe::ImageReader image(in_, h_.sections);
    Readable([&] { return pe::ReadResources(image, h_.Directory(pe::kResourceDirectory), &used); });
    std::sort(used.begin(), used.end(),
              [](const pe::FileRange& a, const pe::FileRange& b) { return a.offset < b.offset; });
    const PeSection& s = Rsrc();
    uint64_t end = (uint64_t)s.rawOffset + std::min<uint64_t>(s.rawSize, VirtualExtent(s));
    uint64_t at = s.rawOffset;
    auto zeros = [&](uint64_t to) {
      for (; at < std::min(to, end); at++) {
        if (in_.U8(at) != 0) {
          Refuse(ImageFault::CannotRebuild,
                 "the resource section holds data outside the "
                 "resource tree, at offset " +
                     Hex(at));
        }
      }
    };
    for (const pe::FileRange& r : used) {
      zeros(r.offset);
      at = std::max(at, r.offset + r.length);
    }
    zeros(end);
  }

  const pe::Reader& in_;
  const pe::Headers& h_;
  uint32_t imageBase_ = 0, sectionAlignment_ = 0, fileAlignment_ = 0;
  int resource_ = -1, relocation_ = -1;
};

}  // namespace

std::vector<ResourceLeaf> ReadResourceLeaves(std::span<const uint8_t> image) {
  pe::Reader in(image);
  uint16_t magic = Readable([&] { return pe::OptionalMagic(in); });
  if (magic != kPe32Magic) {
    Refuse(ImageFault::NotPe32GuiI386,
           "it is not a PE32 image: its optional header's magic is " + Hex(magic));
  }
  std::vector<PeResource> resources = Readable([&] {
    pe::Headers headers = pe::ReadHeaders(in);
    pe::ImageReader reader(in, headers.sections);
    return pe::ReadResources(reader, headers.Directory(pe::kResourceDirectory));
  });
  std::vector<ResourceLeaf> leaves;
  leaves.reserve(resources.size());
  for (PeResource& r : resources) {
    leaves.push_back(
        {std::move(r.type), std::move(r.name), r.language, r.codePage, std::move(r.bytes)});
  }
  return leaves;
}

void SetResource(std::vector<ResourceLeaf>& leaves, ResourceLeaf leaf) {
  auto same = [&](const ResourceLeaf& l) {
    return pe::SameId(l.type, leaf.type) && pe::SameId(l.name, leaf.name);
  };
  auto first = std::find_if(leaves.begin(), leaves.end(), same);
  auto place = first - leaves.begin();
  std::erase_if(leaves, same);
  leaves.insert(leaves.begin() + std::min<ptrdiff_t>(place, (ptrdiff_t)leaves.size()),
                std::move(leaf));
}

std::vector<uint8_t> RebuildResources(std::span<const uint8_t> image,
                                      const std::vector<ResourceLeaf>& leaves) {
  pe::Reader in(image);
  pe::Headers headers = ProgramHeaders(in);
  Layout layout(in, headers);
  const PeSection& rsrc = headers.sections[layout.resource()];

  Bytes section;
  try {
    section = BuildResourceSection(leaves, rsrc.virtualAddress);
  } catch (const std::logic_error& e) {  // too large, or leaves that make no tree
    Refuse(ImageFault::CannotRebuild, e.what());
  }
  const uint32_t sa = layout.sectionAlignment(), fa = layout.fileAlignment();
  uint64_t rawSize = AlignUp(section.size(), fa);
  int64_t virtualShift = (int64_t)AlignUp(rsrc.virtualAddress + section.size(), sa) -
                         (int64_t)AlignUp(rsrc.virtualAddress + VirtualExtent(rsrc), sa);
  int64_t rawShift = (int64_t)rawSize - (int64_t)rsrc.rawSize;
  if (layout.relocation() >= 0 && rawShift % fa != 0) {
    Refuse(ImageFault::CannotRebuild, "the resource section's raw size " + Hex(rsrc.rawSize) +
                                          " is not a multiple of its file alignment " + Hex(fa));
  }

  // The new file: all before the resource section's data, the new section, all behind it.
  Bytes out(image.begin(), image.begin() + rsrc.rawOffset);
  out.insert(out.end(), section.begin(), section.end());
  out.resize(rsrc.rawOffset + rawSize, 0);
  out.insert(out.end(), image.begin() + rsrc.rawOffset + rsrc.rawSize, image.end());

  // The section table, then the optional header's fields that describe the layout.
  std::vector<PeSection> sections = headers.sections;
  sections[layout.resource()].virtualSize = (uint32_t)section.size();
  sections[layout.resource()].rawSize = (uint32_t)rawSize;
  for (size_t k = layout.resource() + 1; k < sections.size(); k++) {
    int64_t address = sections[k].virtualAddress + virtualShift;
    int64_t offset = sections[k].rawOffset + (sections[k].rawSize ? rawShift : 0);
    if (address + (int64_t)VirtualExtent(sections[k]) > 0xFFFFFFFF || offset > 0xFFFFFFFF)
      Refuse(ImageFault::CannotRebuild, "the rebuilt image would exceed 4 GiB");
    sections[k].virtualAddress = (uint32_t)address;
    sections[k].rawOffset = (uint32_t)offset;
  }
  uint64_t imageSize = 0, initializedData = 0;
  for (size_t k = 0; k < sections.size(); k++) {
    const PeSection& s = sections[k];
    uint64_t at = headers.sectionTableOffset + 40 * (uint64_t)k;
    Put32(out, at + 8, s.virtualSize);
    Put32(out, at + 12, s.virtualAddress);
    Put32(out, at + 16, s.rawSize);
    Put32(out, at + 20, s.rawOffset);
    imageSize = std::max(imageSize, AlignUp(s.virtualAddress + VirtualExtent(s), sa));
    if (s.characteristics & kScnInitializedData) initializedData += s.rawSize;
  }
  if (imageSize > 0xFFFFFFFFu || initializedData > 0xFFFFFFFFu)
    Refuse(ImageFault::CannotRebuild, "the rebuilt image would exceed 4 GiB");

  uint64_t opt = headers.optionalOffset;
  Put32(out, opt + 8, (uint32_t)initializedData);
  Put32(out, opt + 56, (uint32_t)imageSize);
  // BaseOfCode and BaseOfData follow the section they name if it moves.
  for (uint64_t field : {opt + 20, opt + 24}) {
    uint32_t rva = in.U32(field);
    if (layout.relocation() >= 0 && rva >= headers.sections[layout.relocation()].virtualAddress)
      Put32(out, field, (uint32_t)(rva + virtualShift));
  }
  Put32(out, opt + 96 + 8 * (uint64_t)pe::kResourceDirectory + 4, (uint32_t)section.size());
  if (layout.relocation() >= 0) {
    uint64_t field = opt + 96 + 8 * (uint64_t)pe::kRelocationDirectory;
    Put32(out, field, (uint32_t)(in.U32(field) + virtualShift));
  }
  WriteHeaderChecksum(out);
  return out;
}

uint32_t PeHeaderChecksum(std::span<const uint8_t> image) {
  pe::Reader in(image);
  uint64_t field = pe::FindPeHeader(in) + 24 + 64;
  in.Need(field, 4, "the CheckSum field");
  auto byte = [&](uint64_t at) -> uint32_t {
    return at >= field && at < field + 4 ? 0 : image[at];
  };
  uint64_t sum = 0;
  for (uint64_t at = 0; at < image.size(); at += 2) {
    sum += byte(at) | (at + 1 < image.size() ? byte(at + 1) << 8 : 0);
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  return (uint32_t)(sum + image.size());
}

void WriteHeaderChecksum(std::vector<uint8_t>& image) {
  uint32_t sum = PeHeaderChecksum(image);
  Put32(image, pe::FindPeHeader(pe::Reader(image)) + 24 + 64, sum);
}

}  // namespace vexa
