// vexa-pack list and extract on the finished installer this build made, signed and not,
// and on copies of it damaged the ways downloads and tampering damage them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/archive_format.h"
#include "pack/archive.h"
#include "pack/carrier.h"
#include "pack/memory_streams.h"
#include "tests/test_files.h"
#include "tests/vexa_pack_runner.h"

namespace {

namespace fs = std::filesystem;
using packcli::Listing;
using packcli::Quote;
using packcli::Result;
using packcli::VexaPack;
using testfiles::Bytes;

const fs::path kSetup = SETUP_EXE;
const fs::path kPayload = kSetup.parent_path() / "payload";

const Bytes& CarrierBytes() {
  static const Bytes bytes = testfiles::Read(kSetup);
  return bytes;
}

const vexa::ScanReport& CarrierScan() {
  static const vexa::ScanReport scan = vexa::ScanArchive(CarrierBytes());
  return scan;
}

std::vector<std::string> TargetNames() {
  std::vector<std::string> names(TargetFileTable, TargetFileTable + SEGMENT_COUNT);
  std::sort(names.begin(), names.end());
  return names;
}

// A signed copy of the installer, made once with a throwaway certificate; empty when the
// host cannot sign, and the reason in *why.
const Bytes& SignedCarrier(std::string* why) {
  static testfiles::TempDir dir;
  static std::string reason;
  static const Bytes bytes = [] {
    if (!packcli::Sign(dir, kSetup, dir / "signed.exe", &reason)) return Bytes{};
    return testfiles::Read(dir / "signed.exe");
  }();
  *why = reason;
  return bytes;
}

Bytes Cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

void ExpectPayload(const fs::path& out) {
  EXPECT_EQ(Listing(out), TargetNames()) << "the eleven files and nothing else";
  for (int row = 0; row < SEGMENT_COUNT; row++) {
    Bytes file = testfiles::Read(kPayload / TargetFileTable[row]);
    ASSERT_FALSE(file.empty()) << TargetFileTable[row];
    EXPECT_TRUE(testfiles::Read(out / TargetFileTable[row]) == file) << TargetFileTable[row];
  }
}

// Payload -> carrier (the build) -> extract: the payload, byte for byte, signed or not.
TEST(CarrierCli, ExtractGivesThePayloadByteForByte) {
  std::string why;
  const Bytes& signedCarrier = SignedCarrier(&why);
  const struct {
    const char* name;
    Bytes file;
    const char* kind;
  } cases[] = {
      {"unsigned", CarrierBytes(), "installer, not signed"},
      {"signed", signedCarrier, "installer, signed (the signature itself is not checked)"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.file.empty()) {
      ADD_FAILURE() << why;
      continue;
    }
    testfiles::TempDir dir;
    testfiles::Write(dir / "setup.exe", c.file);

    Result list = VexaPack(dir, {"list", dir / "setup.exe"});
    EXPECT_EQ(list.exit, 0) << list.err;
    EXPECT_EQ(list.err, "");
    EXPECT_NE(list.out.find(c.kind), std::string::npos) << list.out;
    std::string sum = vexa::HexSum(CarrierScan().sum);
    EXPECT_NE(list.out.find("carried   " + sum + "  matches (the installer's own)"),
              std::string::npos)
        << list.out;
    for (int row = 0; row < SEGMENT_COUNT; row++)
      EXPECT_NE(list.out.find(TargetFileTable[row]), std::string::npos) << list.out;

    Result extract = VexaPack(dir, {"extract", dir / "setup.exe", "-d", dir / "out"});
    ASSERT_EQ(extract.exit, 0) << extract.err;
    EXPECT_EQ(extract.err, "") << "no progress line when standard error is no terminal";
    ExpectPayload(dir / "out");
  }
}

// The sum the installer carries is the one in its record, the one the program reads.
TEST(CarrierCli, TheInstallersSumRecordIsFoundOnceOutsideTheArchive) {
  const vexa::ScanReport& scan = CarrierScan();
  ASSERT_TRUE(scan.markerFound);
  std::vector<uint64_t> records = vexa::FindSumRecords(CarrierBytes(), 0, 0);
  ASSERT_EQ(records.size(), 1u) << "one record in the whole file";
  EXPECT_LT(records[0], scan.firstMarker);
  vexa::CarrierReport report = vexa::ReadCarrier(CarrierBytes());
  EXPECT_EQ(report.carriedSum, scan.sum);
  EXPECT_TRUE(report.sumMatches);
  EXPECT_EQ(report.Status(), 0) << vexa::Describe(report.problems.front());
}

struct Damage {
  const char* name;
  Bytes file;
  int exit;
  const char* message;  // in the one line on standard error
  const char* kind;     // the first problem's kind in the JSON
};

std::vector<Damage> DamagedCopies() {
  const Bytes& good = CarrierBytes();
  const vexa::ScanReport& scan = CarrierScan();
  const vexa::ScannedSegment& row2 = scan.segments.at(2);
  const vexa::ScannedSegment& last = scan.segments.at(SEGMENT_COUNT - 1);
  size_t closing = last.offset + last.bodyLength;
  std::vector<Damage> cases;

  cases.push_back({"cut inside the archive",
                   Bytes(good.begin(), good.begin() + (ptrdiff_t)row2.offset + 100), 4,
                   "truncated: ", "truncated"});
  cases.push_back({"cut after the archive", Bytes(good.begin(), good.end() - 100), 4,
                   "truncated: ", "truncated"});

  Bytes size = good;
  std::memcpy(&size[row2.offset], "\xF0\xFF\xFF\xFF", 4);
  cases.push_back(
      {"a size field claims 4 GiB", size, 4, "row 2 (vexa.hlp) at offset", "damaged-segment"});

  // The resource repeats the marker after the archive: both go, so nothing closes row 10.
  Bytes open = good;
  if (std::string(open.begin() + (ptrdiff_t)closing, open.begin() + (ptrdiff_t)closing + 8) !=
      "ARNIARNI") {
    ADD_FAILURE() << "the closing marker and its copy are not where the scan says";
  }
  std::memcpy(&open[closing], "XXXXYYYY", 8);
  cases.push_back(
      {"no closing marker", open, 4, "the closing marker is missing", "no-closing-marker"});

  // A body whose stream ends on a byte boundary has no filling bit: take the first whose
  // last bit the decoder never reads, so the files stay whole and only the sum can tell.
  for (const vexa::ScannedSegment& s : scan.segments) {
    Bytes padding = good;
    padding[s.offset + s.bodyLength - 1] ^= 0x01;
    std::span<const uint8_t> body(&padding[s.offset], s.bodyLength);
    vexa::DecodedBody decoded = vexa::DecodeBody(body);
    if (!decoded.ok || decoded.output != vexa::DecodeBody({&good[s.offset], s.bodyLength}).output) {
      continue;
    }
    cases.push_back({"a filling bit flipped", padding, 5,
                     "differs from the sum the installer carries", "sum-mismatch"});
    break;
  }
  if (cases.back().kind != std::string("sum-mismatch"))
    ADD_FAILURE() << "no body has a filling bit";

  cases.push_back({"a text file", testfiles::Text("release notes\n"), 3,
                   "not an installer or an archive", "not-a-carrier"});
  cases.push_back({"an empty file", {}, 3, "not an installer or an archive", "not-a-carrier"});
  cases.push_back({"a Windows program without an archive", testfiles::Read(kPayload / "vexa32.exe"),
                   3, "carries no archive (RCDATA 4)", "not-a-carrier"});

  std::string why;
  const Bytes& signedCarrier = SignedCarrier(&why);
  if (!signedCarrier.empty()) {
    cases.push_back({"junk after the signature",
                     Cat(signedCarrier, testfiles::Text("ARNI appended later")), 4,
                     "19 bytes follow the signature", "junk-after-signature"});
    cases.push_back({"cut inside the signature",
                     Bytes(signedCarrier.begin(), signedCarrier.end() - 10), 4,
                     "truncated: ", "truncated"});
  }
  return cases;
}

// Each fault: one line naming the file and the problem, its own exit status, the same in
// the JSON; extract writes nothing and makes no folder.
TEST(CarrierCli, DamagedCopiesAreNamedAndNothingIsExtracted) {
  std::string why;
  if (SignedCarrier(&why).empty()) ADD_FAILURE() << why << "; the signed rows are left out";
  bool jq = packcli::HaveProgram("jq");
  if (!jq) ADD_FAILURE() << "jq is not installed: the JSON of the damaged copies is not checked";
  for (const Damage& c : DamagedCopies()) {
    SCOPED_TRACE(c.name);
    testfiles::TempDir dir;
    fs::path file = dir / "setup.exe";
    testfiles::Write(file, c.file);
    std::string line = "vexa-pack: " + file.string() + ": ";

    Result list = VexaPack(dir, {"list", file});
    EXPECT_EQ(list.exit, c.exit) << list.err;
    EXPECT_EQ(list.err.rfind(line, 0), 0u) << list.err;
    EXPECT_EQ(std::count(list.err.begin(), list.err.end(), '\n'), 1) << list.err;
    EXPECT_NE(list.err.find(c.message), std::string::npos) << list.err;

    if (jq) {
      Result json = VexaPack(dir, {"list", file, "--json"});
      EXPECT_EQ(json.exit, c.exit);
      testfiles::Write(dir / "list.json", testfiles::Text(json.out));
      std::string fields = packcli::Shell(
          dir, "jq -c '[.ok, .exit, .problems[0].kind]' " + Quote(dir / "list.json"));
      EXPECT_EQ(fields, "[false," + std::to_string(c.exit) + ",\"" + c.kind + "\"]\n") << json.out;
    }

    fs::path out = dir / "out";
    fs::create_directories(out);
    testfiles::Write(out / "vexa.ini", testfiles::Text("the user's own settings"));
    Result extract = VexaPack(dir, {"extract", file, "-d", out, "--force"});
    EXPECT_EQ(extract.exit, c.exit);
    EXPECT_EQ(extract.err, list.err);
    EXPECT_EQ(Listing(out), std::vector<std::string>{"vexa.ini"});
    EXPECT_EQ(testfiles::Read(out / "vexa.ini"), testfiles::Text("the user's own settings"));

    Result fresh = VexaPack(dir, {"extract", file, "-d", dir / "new"});
    EXPECT_EQ(fresh.exit, c.exit);
    EXPECT_FALSE(fs::exists(dir / "new"));
  }
}

// What is already in the folder: refused, or replaced with --force; the input never.
TEST(CarrierCli, ExtractRefusesToReplaceUnlessForced) {
  testfiles::TempDir dir;
  fs::path out = dir / "out";
  fs::create_directories(out);
  testfiles::Write(out / "vexa.ini", testfiles::Text("mine"));

  Result one = VexaPack(dir, {"extract", kSetup, "-d", out});
  EXPECT_EQ(one.exit, 6);
  EXPECT_EQ(one.err,
            "vexa-pack: " + (out / "vexa.ini").string() + ": exists; --force replaces it\n");
  EXPECT_EQ(Listing(out), std::vector<std::string>{"vexa.ini"});

  Result forced = VexaPack(dir, {"extract", kSetup, "-d", out, "--force"});
  ASSERT_EQ(forced.exit, 0) << forced.err;
  ExpectPayload(out);

  Result again = VexaPack(dir, {"extract", kSetup, "-d", out});
  EXPECT_EQ(again.exit, 6);
  EXPECT_NE(again.err.find(out.string() + ": 11 of the files exist (vexa32.exe, vxtool32.exe,"),
            std::string::npos)
      << again.err;

  // A folder of a target's name is never replaced, nor the input itself.
  fs::path other = dir / "other";
  fs::create_directories(other / "menus.ini");
  Result folder = VexaPack(dir, {"extract", kSetup, "-d", other, "--force"});
  EXPECT_EQ(folder.exit, 6);
  EXPECT_NE(folder.err.find("menus.ini: a folder is in the way"), std::string::npos) << folder.err;
  EXPECT_EQ(Listing(other), std::vector<std::string>{"menus.ini"});

  fs::copy_file(kSetup, out / "vexa32.exe", fs::copy_options::overwrite_existing);
  Result input = VexaPack(dir, {"extract", out / "vexa32.exe", "-d", out, "--force"});
  EXPECT_EQ(input.exit, 6);
  EXPECT_NE(input.err.find("vexa32.exe: refusing to overwrite the input"), std::string::npos);
  EXPECT_TRUE(testfiles::Read(out / "vexa32.exe") == CarrierBytes());

  // A sum given on the command line must hold as well as the installer's own.
  Result sum = VexaPack(dir, {"extract", kSetup, "-d", dir / "third", "--expect-sum", "1"});
  EXPECT_EQ(sum.exit, 5);
  EXPECT_NE(sum.err.find("differs from the expected 0x00000001"), std::string::npos) << sum.err;
  EXPECT_FALSE(fs::exists(dir / "third"));
}

// On a terminal, one line rewritten in place that ends with what was done.
TEST(CarrierCli, ProgressLineOnATerminal) {
  if (!packcli::HaveProgram("script")) {
    GTEST_SKIP() << "script(1) is not installed: the progress line on a terminal is not checked";
  }
  testfiles::TempDir dir;
  std::string command =
      Quote(VEXA_PACK) + " extract " + Quote(kSetup) + " -d " + Quote(dir / "out");
  std::string seen = packcli::Shell(dir, "script -qec " + Quote(command) + " /dev/null");
  EXPECT_NE(seen.find("\rvexa-pack: decoding 1/11 vexa32.exe"), std::string::npos) << seen;
  EXPECT_NE(seen.find("\rvexa-pack: writing 11/11 links.ini"), std::string::npos) << seen;
  EXPECT_NE(seen.find("\rvexa-pack: extracted 11 files"), std::string::npos) << seen;
  ExpectPayload(dir / "out");
}

}  // namespace
