// The resource editor (pack/pe_resources.h) on small images made by tests/pe_builder.h: a
// rebuild keeps every resource and everything else, lays the new section out as promised,
// moves the base relocations by whole alignment steps and rewrites the headers that say
// where things are; the checksum is the standard one; images it cannot rebuild safely are
// refused with the reason.
#include "pack/pe_resources.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "pack/pe_image.h"
#include "tests/pe_builder.h"
#include "tests/test_files.h"

namespace {

using Bytes = std::vector<uint8_t>;
using testfiles::Text;
using vexa::ImageEditError;
using vexa::ImageFault;
using vexa::PeImage;
using vexa::PeResource;
using vexa::ResourceId;
using vexa::ResourceLeaf;

constexpr uint16_t kEnglish = 0x0409, kGerman = 0x0407;
constexpr uint32_t kImageBase = 0x400000;

uint32_t U32(const Bytes& b, size_t at) {
  return (uint32_t)b.at(at) | (uint32_t)b.at(at + 1) << 8 | (uint32_t)b.at(at + 2) << 16 |
         (uint32_t)b.at(at + 3) << 24;
}
void Put32(Bytes& b, size_t at, uint32_t value) {
  for (int k = 0; k < 4; k++) b.at(at + k) = (uint8_t)(value >> (8 * k));
}
uint32_t Optional(const Bytes& image) { return U32(image, 0x3C) + 24; }
uint32_t Directory(const Bytes& image, int index, int field = 0) {
  return U32(image, Optional(image) + 96 + 8 * index + 4 * field);
}
std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", value);
  return text;
}
uint32_t AlignUp(uint64_t value, uint32_t alignment) {
  return (uint32_t)((value + alignment - 1) / alignment * alignment);
}

std::string Name(const ResourceId& id) {
  return std::holds_alternative<std::string>(id) ? std::get<std::string>(id)
                                                 : "#" + std::to_string(std::get<uint16_t>(id));
}

ResourceLeaf Leaf(ResourceId type, ResourceId name, Bytes bytes, uint16_t language = kEnglish) {
  return {std::move(type), std::move(name), language, 1252, std::move(bytes)};
}

// What the installer stub carries, in small: icons, an icon group, two dialogs (one named),
// the licence in two languages, a resource of a named type.
std::vector<ResourceLeaf> StubLeaves() {
  return {
      Leaf(vexa::kRtIcon, (uint16_t)1, testfiles::Random(744, 1)),
      Leaf(vexa::kRtIcon, (uint16_t)2, testfiles::Random(744, 2)),
      Leaf(vexa::kRtGroupIcon, (uint16_t)1, testfiles::Random(20, 3)),
      Leaf(vexa::kRtDialog, std::string("INSTALL_DLG"), testfiles::Random(1201, 4)),
      Leaf(vexa::kRtDialog, (uint16_t)1537, testfiles::Random(333, 5)),
      Leaf(vexa::kRtRcData, (uint16_t)3, Text("Licence text.\r\n***\r\n")),
      Leaf(vexa::kRtRcData, (uint16_t)3, Text("Lizenztext.\r\n***\r\n"), kGerman),
      Leaf(std::string("VEXA_NOTES"), (uint16_t)7, Text("notes")),
  };
}

// .text reads a word of .data through an absolute address, which the base relocations fix.
testpe::Options StubOptions(std::vector<ResourceLeaf> leaves) {
  Bytes code = {0xA1, 0, 0, 0, 0, 0xC3};           // mov eax, [.data]; ret
  code[1] = 0x00, code[2] = 0x20, code[3] = 0x40;  // 0x402000: .data follows the one page of .text
  return {.sections = {testpe::Code(code), testpe::Data(".data", Text("WARNING")),
                       testpe::Resources(std::move(leaves)),
                       testpe::Relocations({{0x1000, {testpe::HighLow(1)}}})},
          .checksum = false};
}
testpe::Built Stub() { return testpe::Image(StubOptions(StubLeaves())); }

ResourceLeaf Archive() {
  return Leaf(vexa::kRtRcData, (uint16_t)4, testfiles::Random(100 * 1024 + 3, 9));
}

// Every leaf is in the image with its bytes, language and code page, and nothing else is.
void ExpectResources(const Bytes& image, const std::vector<ResourceLeaf>& leaves) {
  PeImage parsed = PeImage::Parse(image);
  ASSERT_EQ(parsed.resources().size(), leaves.size());
  for (const ResourceLeaf& leaf : leaves) {
    SCOPED_TRACE(Name(leaf.type) + "/" + Name(leaf.name) + "/" + std::to_string(leaf.language));
    auto found = std::find_if(
        parsed.resources().begin(), parsed.resources().end(), [&](const PeResource& r) {
          return r.type == leaf.type && r.name == leaf.name && r.language == leaf.language;
        });
    ASSERT_NE(found, parsed.resources().end());
    EXPECT_TRUE(found->bytes == leaf.bytes);
    EXPECT_EQ(found->codePage, leaf.codePage);
  }
}

const vexa::PeSection& SectionOf(const PeImage& image, const std::string& name) {
  for (const vexa::PeSection& s : image.sections()) {
    if (s.name == name) return s;
  }
  throw std::runtime_error("no section " + name);
}

Bytes RawBytes(const Bytes& image, const vexa::PeSection& s) {
  return Bytes(image.begin() + s.rawOffset, image.begin() + s.rawOffset + s.rawSize);
}

TEST(PeResources, ReadsTheLeavesOfABuiltImage) {
  std::vector<ResourceLeaf> leaves = vexa::ReadResourceLeaves(Stub().bytes);
  std::vector<ResourceLeaf> expected = StubLeaves();
  ASSERT_EQ(leaves.size(), expected.size());
  // Tree order: the named type first, then the types by number; in each, names by number
  // after the named ones; languages ascending.
  std::vector<std::string> order;
  order.reserve(leaves.size());
  for (const ResourceLeaf& leaf : leaves)
    order.push_back(Name(leaf.type) + "/" + Name(leaf.name) + "/" + std::to_string(leaf.language));
  EXPECT_EQ(order, (std::vector<std::string>{"VEXA_NOTES/#7/1033", "#3/#1/1033", "#3/#2/1033",
                                             "#5/INSTALL_DLG/1033", "#5/#1537/1033", "#10/#3/1031",
                                             "#10/#3/1033", "#14/#1/1033"}));
  for (const ResourceLeaf& leaf : leaves) {
    auto same = [&](const ResourceLeaf& e) {
      return e.type == leaf.type && e.name == leaf.name && e.language == leaf.language;
    };
    auto want = std::find_if(expected.begin(), expected.end(), same);
    ASSERT_NE(want, expected.end());
    EXPECT_TRUE(want->bytes == leaf.bytes);
    EXPECT_EQ(leaf.codePage, 1252u);
  }
}

TEST(PeResources, AddsTheArchiveAndKeepsEverythingElse) {
  testpe::Built stub = Stub();
  std::vector<ResourceLeaf> leaves = vexa::ReadResourceLeaves(stub.bytes);
  vexa::SetResource(leaves, Archive());
  Bytes image = vexa::RebuildResources(stub.bytes, leaves);

  std::vector<ResourceLeaf> expected = StubLeaves();
  expected.push_back(Archive());
  ExpectResources(image, expected);

  // The archive begins on an 8-byte boundary right after the licence (the last language of
  // RCDATA 3), as the installer's scan expects.
  PeImage parsed = PeImage::Parse(image);
  std::optional<PeResource> archive = parsed.FindResource(vexa::kRtRcData, (uint16_t)4);
  ASSERT_TRUE(archive);
  const PeResource* licence = nullptr;
  for (const PeResource& r : parsed.resources()) {
    if (r.type == ResourceId(vexa::kRtRcData) && r.name == ResourceId((uint16_t)3)) licence = &r;
  }
  ASSERT_TRUE(licence);
  EXPECT_EQ(archive->fileOffset % 8, 0u);
  EXPECT_EQ(archive->fileOffset, AlignUp(licence->fileOffset + licence->bytes.size(), 8));

  // .text and .data as they were; .rsrc as large as it needs; .reloc moved by whole steps
  // with its contents, and the base relocation directory with it.
  PeImage before = PeImage::Parse(stub.bytes);
  for (const char* name : {".text", ".data"}) {
    SCOPED_TRACE(name);
    const vexa::PeSection &was = SectionOf(before, name), &now = SectionOf(parsed, name);
    EXPECT_EQ(now.virtualAddress, was.virtualAddress);
    EXPECT_EQ(now.rawOffset, was.rawOffset);
    EXPECT_TRUE(RawBytes(image, now) == RawBytes(stub.bytes, was));
  }
  const vexa::PeSection& rsrc = SectionOf(parsed, ".rsrc");
  EXPECT_EQ(rsrc.virtualAddress, SectionOf(before, ".rsrc").virtualAddress);
  uint32_t end = 0;  // of the last data, the group icon's
  for (const PeResource& r : parsed.resources())
    end = std::max(end, r.fileOffset + (uint32_t)r.bytes.size());
  EXPECT_EQ(rsrc.virtualSize, end - rsrc.rawOffset);
  EXPECT_EQ(rsrc.rawSize, AlignUp(rsrc.virtualSize, 0x200));
  EXPECT_EQ(Directory(image, 2), rsrc.virtualAddress);
  EXPECT_EQ(Directory(image, 2, 1), rsrc.virtualSize);

  const vexa::PeSection &was = SectionOf(before, ".reloc"), &reloc = SectionOf(parsed, ".reloc");
  EXPECT_GT(reloc.virtualAddress, was.virtualAddress);
  EXPECT_EQ((reloc.virtualAddress - was.virtualAddress) % 0x1000, 0u);
  EXPECT_EQ((reloc.rawOffset - was.rawOffset) % 0x200, 0u);
  EXPECT_EQ(reloc.virtualAddress, AlignUp(rsrc.virtualAddress + rsrc.virtualSize, 0x1000));
  EXPECT_EQ(reloc.rawOffset, rsrc.rawOffset + rsrc.rawSize);
  EXPECT_EQ(reloc.virtualSize, was.virtualSize);
  EXPECT_TRUE(RawBytes(image, reloc) == RawBytes(stub.bytes, was));
  EXPECT_EQ(Directory(image, 5), reloc.virtualAddress);
  EXPECT_EQ(Directory(image, 5, 1), Directory(stub.bytes, 5, 1));
  EXPECT_EQ(image.size(), reloc.rawOffset + reloc.rawSize);

  // The sizes in the optional header, and the checksum, recomputed though the stub had none.
  uint32_t opt = Optional(image);
  EXPECT_EQ(U32(image, opt + 56), reloc.virtualAddress + AlignUp(reloc.virtualSize, 0x1000));
  uint32_t initialized = 0;
  for (const vexa::PeSection& s : parsed.sections())
    if (s.characteristics & 0x40) initialized += s.rawSize;
  EXPECT_EQ(U32(image, opt + 8), initialized);
  EXPECT_EQ(U32(stub.bytes, opt + 64), 0u);
  EXPECT_EQ(U32(image, opt + 64), vexa::PeHeaderChecksum(image));
  EXPECT_NE(U32(image, opt + 64), 0u);
}

TEST(PeResources, ReplacesTheLicenceByALongerAndAShorterText) {
  Bytes stub = Stub().bytes;
  std::vector<ResourceLeaf> leaves = vexa::ReadResourceLeaves(stub);
  vexa::SetResource(leaves, Archive());
  Bytes installer = vexa::RebuildResources(stub, leaves);
  uint32_t reloc = SectionOf(PeImage::Parse(installer), ".reloc").virtualAddress;

  std::vector<uint32_t> moved;  // where .reloc went
  for (size_t length : {size_t{9000}, size_t{3}}) {
    SCOPED_TRACE(length);
    std::vector<ResourceLeaf> edited = vexa::ReadResourceLeaves(installer);
    ResourceLeaf licence = Leaf(vexa::kRtRcData, (uint16_t)3, Bytes(length, 'L'), kGerman);
    vexa::SetResource(edited, licence);
    Bytes image = vexa::RebuildResources(installer, edited);

    // Both languages of the old licence gave way to the new one.
    std::vector<ResourceLeaf> expected;
    for (const ResourceLeaf& leaf : StubLeaves())
      if (!(leaf.type == ResourceId(vexa::kRtRcData))) expected.push_back(leaf);
    expected.push_back(licence);
    expected.push_back(Archive());
    ExpectResources(image, expected);

    PeImage parsed = PeImage::Parse(image);
    moved.push_back(SectionOf(parsed, ".reloc").virtualAddress);
    EXPECT_EQ(Directory(image, 5), moved.back());
    EXPECT_EQ(U32(image, Optional(image) + 64), vexa::PeHeaderChecksum(image));
  }
  EXPECT_GT(moved[0], reloc);
  EXPECT_LT(moved[1], moved[0]);
  EXPECT_LE(moved[1], reloc);
}

TEST(PeResources, SameLeavesGiveTheSameBytes) {
  Bytes stub = Stub().bytes;
  std::vector<ResourceLeaf> leaves = vexa::ReadResourceLeaves(stub);
  vexa::SetResource(leaves, Archive());
  Bytes first = vexa::RebuildResources(stub, leaves);
  EXPECT_TRUE(vexa::RebuildResources(stub, leaves) == first);
  std::shuffle(leaves.begin(), leaves.end(), std::mt19937(7));
  EXPECT_TRUE(vexa::RebuildResources(stub, leaves) == first);
  // Rebuilt from its own leaves, the result is itself.
  EXPECT_TRUE(vexa::RebuildResources(first, vexa::ReadResourceLeaves(first)) == first);
}

// The tables breadth-first, named entries first in upper-cased order, then ordinals; the
// names; the data entries; the data on 8-byte boundaries in tree order.
TEST(PeResources, LaysOutTheSectionAsPromised) {
  std::vector<ResourceLeaf> leaves = {
      Leaf((uint16_t)10, (uint16_t)2, Text("c")),
      Leaf(std::string("zeta"), (uint16_t)1, Text("z")),
      Leaf((uint16_t)10, std::string("b"), Text("b")),
      Leaf(std::string("Alpha"), (uint16_t)1, Text("a")),
      Leaf((uint16_t)10, std::string("A"), Text("x")),
      Leaf((uint16_t)3, (uint16_t)1, Text("i")),
  };
  Bytes section = vexa::BuildResourceSection(leaves, 0x5000);
  auto u16 = [&](size_t at) { return (uint16_t)(section.at(at) | section.at(at + 1) << 8); };
  auto u32 = [&](size_t at) { return (uint32_t)u16(at) | (uint32_t)u16(at + 2) << 16; };
  auto text = [&](uint32_t field) {
    std::string s;
    size_t at = field & 0x7FFFFFFF;
    for (uint16_t k = 0; k < u16(at); k++) s += (char)u16(at + 2 + 2 * (size_t)k);
    return s;
  };
  // Root: two named types, two ordinal ones.
  EXPECT_EQ(u32(0), 0u);  // Characteristics
  EXPECT_EQ(u32(4), 0u);  // TimeDateStamp
  EXPECT_EQ(u32(8), 0u);  // versions
  EXPECT_EQ(u16(12), 2);
  EXPECT_EQ(u16(14), 2);
  EXPECT_EQ(text(u32(16)), "Alpha");
  EXPECT_EQ(text(u32(24)), "zeta");
  EXPECT_EQ(u32(32), 3u);
  EXPECT_EQ(u32(40), 10u);
  // The type tables follow the root in its order; then the name tables.
  uint32_t rcdata = u32(44) & 0x7FFFFFFF;
  EXPECT_EQ(u32(20), 0x80000000u | 48);
  EXPECT_EQ(rcdata, 48u + 3 * 24);
  EXPECT_EQ(u16(rcdata + 12), 2);
  EXPECT_EQ(u16(rcdata + 14), 1);
  EXPECT_EQ(text(u32(rcdata + 16)), "A");
  EXPECT_EQ(text(u32(rcdata + 24)), "b");
  EXPECT_EQ(u32(rcdata + 32), 2u);
  uint32_t firstNameTable = rcdata + 16 + 3 * 8;
  EXPECT_EQ(u32(48 + 20), 0x80000000u | firstNameTable);
  // Six language tables of one entry each, then the names: the types', then the others'.
  uint32_t names = firstNameTable + 6 * 24;
  EXPECT_EQ(u32(16) & 0x7FFFFFFF, names);
  EXPECT_EQ(u16(names), 5);
  // Data entries on a 4-byte boundary, data in tree order on 8-byte boundaries.
  std::string order;
  uint32_t previous = 0;
  for (const ResourceLeaf& leaf : vexa::ReadResourceLeaves(
           testpe::Image({.sections = {testpe::Code({0xC3}), testpe::Resources(leaves)}}).bytes)) {
    order += std::string(leaf.bytes.begin(), leaf.bytes.end());
  }
  EXPECT_EQ(order, "azixbc");
  uint32_t entries = AlignUp(names + (2 + 10) + (2 + 8) + (2 + 2) + (2 + 2), 4);
  for (int k = 0; k < 6; k++) {
    uint32_t rva = u32(entries + 16 * k);
    EXPECT_EQ(rva % 8, 0u);
    EXPECT_GT(rva, previous);
    EXPECT_EQ(u32(entries + 16 * k + 4), 1u);
    EXPECT_EQ(section.at(rva - 0x5000), (uint8_t)order[k]);
    previous = rva;
  }
  EXPECT_EQ(section.size(), previous - 0x5000 + 1);
}

TEST(PeResources, SetResourceReplacesEveryLanguageOrAppends) {
  std::vector<ResourceLeaf> leaves = StubLeaves();
  vexa::SetResource(leaves, Leaf(vexa::kRtRcData, (uint16_t)3, Text("new"), kGerman));
  ASSERT_EQ(leaves.size(), StubLeaves().size() - 1);
  EXPECT_TRUE(leaves[5].bytes == Text("new"));  // in the place of the first it replaced
  vexa::SetResource(leaves, Leaf(vexa::kRtDialog, std::string("install_dlg"), Text("dlg")));
  EXPECT_EQ(leaves.size(), StubLeaves().size() - 1);
  EXPECT_EQ(leaves[3].name, ResourceId(std::string("install_dlg")));
  vexa::SetResource(leaves, Archive());
  EXPECT_EQ(leaves.size(), StubLeaves().size());
  EXPECT_EQ(leaves.back().name, ResourceId((uint16_t)4));
}

TEST(PeResources, RefusesTwoLeavesOfOneTypeNameAndLanguage) {
  std::vector<ResourceLeaf> leaves = StubLeaves();
  leaves.push_back(Leaf(vexa::kRtDialog, std::string("Install_Dlg"), Text("again")));
  EXPECT_THROW(vexa::BuildResourceSection(leaves, 0x1000), std::invalid_argument);
  leaves = StubLeaves();
  leaves.push_back(Leaf(vexa::kRtRcData, (uint16_t)3, Text("again")));
  try {
    vexa::RebuildResources(Stub().bytes, leaves);
    ADD_FAILURE() << "not refused";
  } catch (const ImageEditError& e) {
    EXPECT_EQ((int)e.fault, (int)ImageFault::CannotRebuild);
    EXPECT_EQ(std::string(e.what()), "two resources #10/#3 of language 1033");
  }
}

// ---------------------------------------------------------------------------------------
// The checksum against osslsigncode's

// What osslsigncode says of a file's checksum: "Calculated PE checksum: X" when the field
// differs from it, or only "PE checksum : X" when they agree.
std::optional<uint32_t> OsslsigncodeChecksum(const std::filesystem::path& file) {
  std::string command = "osslsigncode verify -in '" + file.string() + "' 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return std::nullopt;
  std::string out;
  char buffer[512];
  while (size_t n = fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, n);
  pclose(pipe);
  for (const char* label : {"Calculated PE checksum:", "PE checksum   :"}) {
    size_t at = out.find(label);
    if (at != std::string::npos)
      return (uint32_t)std::stoul(out.substr(at + strlen(label)), nullptr, 16);
  }
  return std::nullopt;
}

TEST(PeChecksum, AgreesWithOsslsigncode) {
  if (std::system("command -v osslsigncode >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "osslsigncode is not installed (tools/setup.sh installs it)";
  testfiles::TempDir dir;
  Bytes stub = Stub().bytes;
  std::vector<ResourceLeaf> leaves = vexa::ReadResourceLeaves(stub);
  vexa::SetResource(leaves, Archive());
  Bytes installer = vexa::RebuildResources(stub, leaves);
  const struct {
    const char* name;
    Bytes image;
  } cases[] = {
      {"stub without a checksum", stub},
      {"rebuilt", installer},
      {"PE32+",
       testpe::Image({.pe32Plus = true,
                      .sections = {testpe::Code({0xC3}), testpe::Data(".data", Text("WARNING"))}})
           .bytes},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testfiles::Write(dir / "image.exe", c.image);
    std::optional<uint32_t> theirs = OsslsigncodeChecksum(dir / "image.exe");
    ASSERT_TRUE(theirs) << "osslsigncode printed no checksum";
    EXPECT_EQ(vexa::PeHeaderChecksum(c.image), *theirs);
  }
}

// A file of odd length (no linker writes one) ends in a word of one byte, and its whole
// length counts, as in Windows' CheckSumMappedFile; osslsigncode drops that byte instead.
TEST(PeChecksum, CountsAnOddLastByte) {
  Bytes image = Stub().bytes;
  uint32_t sum = vexa::PeHeaderChecksum(image) - (uint32_t)image.size();
  image.push_back(0xA5);
  sum += 0xA5;
  sum = (sum & 0xFFFF) + (sum >> 16);
  EXPECT_EQ(vexa::PeHeaderChecksum(image), sum + image.size());
}

TEST(PeChecksum, SkipsItsOwnField) {
  Bytes image = Stub().bytes;
  uint32_t sum = vexa::PeHeaderChecksum(image);
  Put32(image, Optional(image) + 64, 0xDEADBEEF);
  EXPECT_EQ(vexa::PeHeaderChecksum(image), sum);
  vexa::WriteHeaderChecksum(image);
  EXPECT_EQ(U32(image, Optional(image) + 64), sum);
  image[0x200] ^= 1;
  EXPECT_NE(vexa::PeHeaderChecksum(image), sum);
}

// ---------------------------------------------------------------------------------------
// What it refuses

struct Refusal {
  std::string name;
  Bytes image;
  ImageFault fault;
  std::string message;
};

std::vector<Refusal> Refusals() {
  auto image = [](const testpe::Options& options) { return testpe::Image(options).bytes; };
  auto stub = [&](auto change) {
    testpe::Options options = StubOptions(StubLeaves());
    change(options);
    return image(options);
  };
  const Bytes good = Stub().bytes;
  std::vector<Refusal> cases;

  cases.push_back({"PE32+", stub([](auto& o) { o.pe32Plus = true; }), ImageFault::NotPe32GuiI386,
                   "it is not a PE32 image: its optional header's magic is 0x20B"});
  cases.push_back({"ARM", stub([](auto& o) { o.machine = 0x1C0; }), ImageFault::NotPe32GuiI386,
                   "it is not an i386 program: its machine is 0x1C0"});
  cases.push_back({"console", stub([](auto& o) { o.subsystem = vexa::kSubsystemConsole; }),
                   ImageFault::NotPe32GuiI386, "it is not a GUI program: its subsystem is 3"});
  cases.push_back(
      {"DLL", stub([](auto& o) { o.dll = true; }), ImageFault::NotPe32GuiI386, "it is a DLL"});

  Bytes signedImage = good;
  testpe::SetDirectory(signedImage, 4, (uint32_t)good.size(), 0x208);
  signedImage.resize(good.size() + 0x208);
  cases.push_back({"signed", signedImage, ImageFault::Signed,
                   "it is signed (a certificate table of 520 bytes at offset " +
                       std::to_string(good.size()) +
                       "); build from the unsigned stub and sign the result"});

  cases.push_back(
      {"no resources",
       image({.sections = {testpe::Code({0xC3}), testpe::Data(".data", Text("WARNING"))}}),
       ImageFault::CannotRebuild, "it has no resource directory"});
  cases.push_back({".idata behind .rsrc", stub([](auto& o) {
                     o.sections.insert(o.sections.begin() + 3,
                                       testpe::Data(".idata", Bytes(40, 1)));
                   }),
                   ImageFault::CannotRebuild,
                   "the resource section is followed by .idata, not only by the base relocations"});
  cases.push_back({"imports behind the resources", stub([](auto& o) {
                     o.directories = {{1, ".reloc", 0, 20}};
                   }),
                   ImageFault::CannotRebuild,
                   "the import directory lies in or behind the resource section"});
  cases.push_back({"TLS in the resources", stub([](auto& o) {
                     o.directories = {{9, ".rsrc", 0x10, 24}};
                   }),
                   ImageFault::CannotRebuild,
                   "the TLS directory lies in or behind the resource section"});
  cases.push_back({"a pointer into .reloc", stub([](auto& o) {
                     o.sections[0].bytes = {0xA1, 0x00, 0x40, 0x40, 0x00, 0xC3};  // [0x404000]
                   }),
                   ImageFault::CannotRebuild,
                   "the address at 0x1001 points to 0x4000, in .reloc, which the rebuild moves or "
                   "rewrites"});
  cases.push_back(
      {"a fixup in .rsrc", stub([](auto& o) {
         o.sections[3].blocks = {{0x3000, {testpe::HighLow(0)}}};
       }),
       ImageFault::CannotRebuild,
       "a base relocation patches 0x3000, in .rsrc, in or behind the resource section"});
  Bytes moved = good;
  testpe::SetDirectory(moved, 2, 0x3010, 0x100);
  cases.push_back({"resources not at the start of .rsrc", moved, ImageFault::CannotRebuild,
                   "its resource directory (at 0x3010) does not begin at the start of its section "
                   ".rsrc (at 0x3000)"});
  // A byte in the section's last bytes, which the section's virtual size covers.
  Bytes junk = stub([](auto& o) { o.sections[2].virtualSize = 0x1000; });
  const vexa::PeSection rsrc = testpe::Image(StubOptions(StubLeaves())).Find(".rsrc");
  uint32_t junkAt = rsrc.rawOffset + rsrc.rawSize - 1;
  junk[junkAt] = 0x90;
  cases.push_back(
      {"more than resources in .rsrc", junk, ImageFault::CannotRebuild,
       "the resource section holds data outside the resource tree, at offset " + Hex(junkAt)});
  Bytes overlay = good;
  overlay.insert(overlay.end(), 16, 0xEE);
  cases.push_back({"overlay", overlay, ImageFault::CannotRebuild,
                   "16 bytes follow its last section, from offset " + std::to_string(good.size()) +
                       " (an overlay the rebuild would not keep in place)"});
  cases.push_back({"truncated", Bytes(good.begin(), good.end() - 0x100), ImageFault::Malformed,
                   "it is cut short: its sections run to offset " + std::to_string(good.size()) +
                       ", but it has " + std::to_string(good.size() - 0x100) + " bytes"});
  cases.push_back({"headers only", Bytes(good.begin(), good.begin() + 0x180), ImageFault::Malformed,
                   "not a readable PE32 image: the section table lies outside the data"});
  cases.push_back({"text", Text("release notes\n"), ImageFault::Malformed,
                   "not a readable PE32 image: no MZ header"});
  return cases;
}

TEST(PeResources, RefusesWhatItCannotRebuild) {
  std::vector<ResourceLeaf> leaves = StubLeaves();
  leaves.push_back(Archive());
  for (const Refusal& c : Refusals()) {
    SCOPED_TRACE(c.name);
    try {
      vexa::RebuildResources(c.image, leaves);
      ADD_FAILURE() << "not refused";
    } catch (const ImageEditError& e) {
      EXPECT_EQ((int)e.fault, (int)c.fault);
      EXPECT_EQ(std::string(e.what()), c.message);
      EXPECT_EQ(std::string(e.what()).find('\n'), std::string::npos);
    }
  }
}

TEST(PeResources, ReadsOnlyPe32Images) {
  try {
    vexa::ReadResourceLeaves(testpe::Image({.pe32Plus = true}).bytes);
    ADD_FAILURE() << "read a PE32+ image";
  } catch (const ImageEditError& e) {
    EXPECT_EQ((int)e.fault, (int)ImageFault::NotPe32GuiI386);
  }
  try {
    vexa::ReadResourceLeaves(Text("MZ"));
    ADD_FAILURE() << "read two bytes";
  } catch (const ImageEditError& e) {
    EXPECT_EQ((int)e.fault, (int)ImageFault::Malformed);
  }
}

// ---------------------------------------------------------------------------------------
// The builder's images as others read them

TEST(PeBuilder, MakesImagesThePeReaderReads) {
  testpe::Built built = Stub();
  PeImage image = PeImage::Parse(built.bytes);
  EXPECT_EQ(image.machine(), vexa::kMachineI386);
  EXPECT_EQ(image.subsystem(), vexa::kSubsystemGui);
  ASSERT_EQ(image.sections().size(), 4u);
  EXPECT_EQ(image.sections()[1].name, ".data");
  EXPECT_EQ(image.sections()[1].virtualAddress, 0x2000u);
  EXPECT_EQ(built.Find(".reloc").virtualAddress, image.sections()[3].virtualAddress);
  vexa::PeFileLayout layout = vexa::ReadPeFileLayout(built.bytes);
  EXPECT_EQ(layout.sectionsEnd, built.bytes.size());
  EXPECT_EQ(layout.certificateSize, 0u);
  ExpectResources(built.bytes, StubLeaves());

  testpe::Built plus = testpe::Image(
      {.pe32Plus = true,
       .sections = {testpe::Code({0xC3}), testpe::Data(".data", Text("WARNING")),
                    testpe::Resources({Leaf(vexa::kRtRcData, (uint16_t)1, Text("x"))})}});
  EXPECT_THROW(PeImage::Parse(plus.bytes), std::runtime_error);  // PE32 only
  EXPECT_EQ(U32(plus.bytes, plus.optionalHeader + 64), vexa::PeHeaderChecksum(plus.bytes));
  EXPECT_EQ(U32(plus.bytes, plus.optionalHeader + 112 + 16), plus.Find(".rsrc").virtualAddress);
  std::string text(plus.bytes.begin(), plus.bytes.end());
  EXPECT_NE(text.find("WARNING"), std::string::npos);
}

}  // namespace
