// vexa-pack build: the installer made from the prebuilt stub, as a release engineer makes
// it, and every stub it must refuse.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/archive_format.h"
#include "pack/pe_image.h"
#include "tests/pe_builder.h"
#include "tests/test_files.h"
#include "tests/vexa_pack_runner.h"

namespace {

namespace fs = std::filesystem;
using packcli::Listing;
using packcli::Result;
using packcli::VexaPack;
using testfiles::Bytes;

const fs::path kSetup = SETUP_EXE;
const fs::path kStub = kSetup.parent_path() / "vexa-stub.exe";
const fs::path kPayload = kSetup.parent_path() / "payload";

size_t Find(const Bytes& bytes, const std::string& text, size_t from = 0) {
  auto at = std::search(bytes.begin() + (ptrdiff_t)from, bytes.end(), text.begin(), text.end());
  return at == bytes.end() ? std::string::npos : (size_t)(at - bytes.begin());
}

uint32_t U32(const Bytes& b, size_t at) {
  return (uint32_t)b[at] | (uint32_t)b[at + 1] << 8 | (uint32_t)b[at + 2] << 16 |
         (uint32_t)b[at + 3] << 24;
}

void Put32(Bytes& b, size_t at, uint32_t value) {
  for (int k = 0; k < 4; k++) b[at + k] = (uint8_t)(value >> (8 * k));
}

// The eleven payload files in a new folder, each made different from the demo's.
fs::path FreshPayload(const testfiles::TempDir& dir) {
  fs::path payload = dir / "files";
  fs::create_directories(payload);
  for (int row = 0; row < SEGMENT_COUNT; row++) {
    Bytes file = testfiles::Read(kPayload / TargetFileTable[row]);
    std::string note = "\r\nrelease " + std::to_string(row) + "\r\n";
    file.insert(file.end(), note.begin(), note.end());
    testfiles::Write(payload / TargetFileTable[row], file);
  }
  return payload;
}

// The files of the payload, extracted from the installer again, byte for byte.
TEST(BuildCli, BuildThenExtractGivesTheFilesBack) {
  testfiles::TempDir dir;
  fs::path payload = FreshPayload(dir);
  Result build = VexaPack(dir, {"build", payload, "-o", dir / "setup.exe", "--stub", kStub});
  ASSERT_EQ(build.exit, 0) << build.err;
  EXPECT_EQ(build.err, "");
  EXPECT_EQ(fs::status(dir / "setup.exe").permissions() & fs::perms::owner_exec,
            fs::perms::owner_exec);

  Result extract = VexaPack(dir, {"extract", dir / "setup.exe", "-d", dir / "out"});
  ASSERT_EQ(extract.exit, 0) << extract.err;
  for (int row = 0; row < SEGMENT_COUNT; row++) {
    SCOPED_TRACE(TargetFileTable[row]);
    EXPECT_TRUE(testfiles::Read(dir / "out" / TargetFileTable[row]) ==
                testfiles::Read(payload / TargetFileTable[row]));
  }
  Result list = VexaPack(dir, {"list", dir / "setup.exe"});
  EXPECT_EQ(list.exit, 0) << list.err;
  EXPECT_NE(list.out.find("matches (the installer's own)"), std::string::npos) << list.out;
}

// The build's own installer was made by the same command from the demo payload.
TEST(BuildCli, TheBuildsInstallerIsTheToolsOutputForTheDemoPayload) {
  testfiles::TempDir dir;
  Result build = VexaPack(dir, {"build", kPayload, "-o", dir / "setup.exe", "--stub", kStub});
  ASSERT_EQ(build.exit, 0) << build.err;
  EXPECT_TRUE(testfiles::Read(dir / "setup.exe") == testfiles::Read(kSetup));
}

// Signing comes after the build, and a signed installer still reads as one.
TEST(BuildCli, AnInstallerSignedAfterTheBuildStillLists) {
  testfiles::TempDir dir;
  std::string why;
  if (!packcli::Sign(dir, kSetup, dir / "signed.exe", &why)) {
    ADD_FAILURE() << why;
    return;
  }
  Result list = VexaPack(dir, {"list", dir / "signed.exe"});
  EXPECT_EQ(list.exit, 0) << list.err;
  EXPECT_NE(list.out.find("installer, signed"), std::string::npos) << list.out;
}

TEST(BuildCli, LicenceReplacesRcData3) {
  testfiles::TempDir dir;
  std::string text = "Our own terms.\r\nShown on the licence page.\r\n***\r\nnot shown\r\n";
  testfiles::Write(dir / "licence.txt", testfiles::Text(text));
  Result build = VexaPack(dir, {"build", kPayload, "-o", dir / "setup.exe", "--stub", kStub,
                                "--licence", dir / "licence.txt"});
  ASSERT_EQ(build.exit, 0) << build.err;
  vexa::PeImage image = vexa::PeImage::Parse(testfiles::Read(dir / "setup.exe"));
  std::optional<vexa::PeResource> licence =
      image.FindResource(vexa::kRtRcData, vexa::ResourceId((uint16_t)3));
  ASSERT_TRUE(licence);
  EXPECT_TRUE(licence->bytes == testfiles::Text(text));
  EXPECT_EQ(VexaPack(dir, {"list", dir / "setup.exe"}).exit, 0);
}

// The stub the tool installed with it is found without --stub: beside the program, or in
// the data folder of the package layout.
TEST(BuildCli, FindsTheInstalledStub) {
  testfiles::TempDir dir;
  for (const char* layout : {"beside", "package", "none"}) {
    SCOPED_TRACE(layout);
    fs::path root = dir / layout;
    fs::path bin = root / "usr" / "bin";
    fs::create_directories(bin);
    fs::copy_file(VEXA_PACK, bin / "vexa-pack");
    if (layout == std::string("beside")) fs::copy_file(kStub, bin / "vexa-stub.exe");
    if (layout == std::string("package")) {
      fs::create_directories(root / "usr" / "share" / "vexa-pack");
      fs::copy_file(kStub, root / "usr" / "share" / "vexa-pack" / "vexa-stub.exe");
    }
    std::string command = packcli::Quote(bin / "vexa-pack") + " build " + packcli::Quote(kPayload) +
                          " -o " + packcli::Quote(root / "setup.exe");
    int status = std::system((command + " 2>" + packcli::Quote(root / "err.txt")).c_str());
    Bytes err = testfiles::Read(root / "err.txt");
    if (layout == std::string("none")) {
      EXPECT_EQ(WEXITSTATUS(status), 1);
      EXPECT_EQ(std::string(err.begin(), err.end()),
                "vexa-pack: vexa-stub.exe: not found beside vexa-pack nor in ../share/vexa-pack; "
                "give --stub STUB\n");
      EXPECT_FALSE(fs::exists(root / "setup.exe"));
    } else {
      EXPECT_EQ(WEXITSTATUS(status), 0) << std::string(err.begin(), err.end());
      EXPECT_TRUE(testfiles::Read(root / "setup.exe") == testfiles::Read(kSetup));
    }
  }
}

struct Refusal {
  std::string name;
  Bytes stub;
  int exit;
  std::string problem;  // the whole line after "vexa-pack: STUB: "
};

std::vector<Refusal> Refusals(const testfiles::TempDir& dir) {
  const Bytes stub = testfiles::Read(kStub);
  std::vector<Refusal> cases;
  cases.push_back({"a text file", testfiles::Text("release notes\n"), 7,
                   "not an installer stub: not a readable PE32 image: no MZ header"});
  cases.push_back({"a 64-bit program", testpe::Image(testpe::Options{.pe32Plus = true}).bytes, 7,
                   "not an installer stub: not a readable PE32 image: not a PE32 optional header"});

  uint32_t pe = U32(stub, 0x3C);
  Bytes console = stub;
  console[pe + 24 + 68] = 3;
  cases.push_back(
      {"a console program", console, 7, "not an installer stub: not a 32-bit Windows GUI program"});

  Bytes noPlaceholder = stub;
  size_t tag = Find(noPlaceholder, "VxSumPnd");
  if (tag == std::string::npos)
    ADD_FAILURE() << "the stub holds no placeholder";
  else
    noPlaceholder[tag + 7] = 'x';
  cases.push_back({"no sum placeholder", noPlaceholder, 7,
                   "not an installer stub: it holds no sum placeholder"});

  cases.push_back({"a finished installer", testfiles::Read(kSetup), 7,
                   "already holds an archive: a finished installer, not a stub"});

  std::string why;
  if (packcli::Sign(dir, kStub, dir / "signed-stub.exe", &why)) {
    cases.push_back({"a signed stub", testfiles::Read(dir / "signed-stub.exe"), 7,
                     "signed: build from the unsigned stub, then sign the installer"});
  } else {
    ADD_FAILURE() << why << ": the signed stub is not tried";
  }

  // The debug directory made to point behind the resources: the editor cannot move what it
  // does not know.
  Bytes debug = stub;
  vexa::PeImage image = vexa::PeImage::Parse(stub);
  uint32_t relocations = 0;
  for (const vexa::PeSection& s : image.sections()) {
    if (s.name == ".reloc") relocations = s.virtualAddress;
  }
  if (relocations == 0) ADD_FAILURE() << "the stub has no .reloc section";
  Put32(debug, pe + 24 + 96 + 8 * 6, relocations);
  Put32(debug, pe + 24 + 96 + 8 * 6 + 4, 28);
  cases.push_back({"a directory behind the resources", debug, 7,
                   "its resources cannot be rebuilt: the debug directory lies in or "
                   "behind the resource section"});
  return cases;
}

// Each: one line naming the stub, its own status, and no output left behind.
TEST(BuildCli, RefusesWhatIsNoStub) {
  testfiles::TempDir dir;
  for (const Refusal& c : Refusals(dir)) {
    SCOPED_TRACE(c.name);
    fs::path work = dir / "work";
    fs::create_directories(work);
    testfiles::Write(work / "stub.exe", c.stub);
    Result build =
        VexaPack(dir, {"build", kPayload, "-o", work / "setup.exe", "--stub", work / "stub.exe"});
    EXPECT_EQ(build.exit, c.exit);
    EXPECT_EQ(build.err, "vexa-pack: " + (work / "stub.exe").string() + ": " + c.problem + "\n");
    EXPECT_EQ(Listing(work), std::vector<std::string>{"stub.exe"});
    fs::remove_all(work);
  }
}

// What the payload folder and the licence lack is said per file; nothing is written.
TEST(BuildCli, RefusesAPayloadWithAMissingFileAndALicenceTheInstallerCannotShow) {
  testfiles::TempDir dir;
  fs::path payload = FreshPayload(dir);
  fs::remove(payload / "macros.ini");
  fs::path out = dir / "out";
  fs::create_directories(out);
  Result missing = VexaPack(dir, {"build", payload, "-o", out / "setup.exe", "--stub", kStub});
  EXPECT_EQ(missing.exit, 1);
  EXPECT_EQ(missing.err, "vexa-pack: " + (payload / "macros.ini").string() + ": missing\n");
  EXPECT_TRUE(Listing(out).empty());

  const struct {
    const char* name;
    std::string text;
    std::string problem;
  } licences[] = {
      {"the marker", "These terms. ARNI\r\n***\r\n",
       "holds the segment marker \"ARNI\", which the installer's scan would take for its "
       "archive"},
      {"too long for the page", std::string(3000, 'x') + "\r\n***\r\n",
       "the licence page shows 2999 bytes, and this text has 3002 before \"***\"; shorten it, "
       "or end what the page shows with \"***\""},
  };
  // The licence is an input like the stub and the files: never written over.
  testfiles::Write(dir / "licence.txt", testfiles::Text("terms\r\n***\r\n"));
  Result over = VexaPack(dir, {"build", kPayload, "-o", dir / "licence.txt", "--stub", kStub,
                               "--licence", dir / "licence.txt"});
  EXPECT_EQ(over.exit, 1);
  EXPECT_EQ(over.err,
            "vexa-pack: " + (dir / "licence.txt").string() + ": refusing to overwrite the input\n");
  EXPECT_EQ(testfiles::Read(dir / "licence.txt"), testfiles::Text("terms\r\n***\r\n"));

  for (const auto& c : licences) {
    SCOPED_TRACE(c.name);
    testfiles::Write(dir / "licence.txt", testfiles::Text(c.text));
    Result build = VexaPack(dir, {"build", kPayload, "-o", out / "setup.exe", "--stub", kStub,
                                  "--licence", dir / "licence.txt"});
    EXPECT_EQ(build.exit, 1);
    EXPECT_EQ(build.err, "vexa-pack: " + (dir / "licence.txt").string() + ": " + c.problem + "\n");
    EXPECT_TRUE(Listing(out).empty());
  }
}

}  // namespace
