// vexa-pack as the release engineer meets it: its exit codes, messages and files.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>
#include <regex>

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

void WritePayload(const fs::path& dir) {
  fs::create_directories(dir);
  for (int row = 0; row < SEGMENT_COUNT; row++) {
    Bytes bytes = testfiles::Text(std::string("[") + TargetFileTable[row] + "]\r\nkey=value\r\n");
    if (row == 0) bytes = testfiles::Vector("x86_300k.bin");
    testfiles::Write(dir / TargetFileTable[row], bytes);
  }
}

TEST(PackCli, UsageAndHelp) {
  testfiles::TempDir dir;
  const struct {
    std::vector<std::string> args;
    int exit;
    const char* out;  // expected in stdout
    const char* err;  // expected in stderr
  } cases[] = {
      {{}, 2, "", "no command given"},
      {{"--help"}, 0, "Usage: vexa-pack COMMAND", ""},
      {{"encode", "--help"}, 0, "Usage: vexa-pack encode", ""},
      {{"decode", "--help"}, 0, "Usage: vexa-pack decode", ""},
      {{"pack", "--help"}, 0, "Usage: vexa-pack pack", ""},
      {{"verify", "--help"}, 0, "Usage: vexa-pack verify", ""},
      {{"unpack"}, 2, "", "unknown command 'unpack'"},
      {{"encode", "a"}, 2, "", "expected IN and OUT"},
      {{"pack", "dir"}, 2, "", "-o ARCHIVE is required"},
      {{"pack", "dir", "-o"}, 2, "", "-o needs a file name"},
      {{"verify", "f", "--expect-sum", "12x"}, 2, "", "--expect-sum needs a number"},
      {{"verify", "f", "--expect-sum", "4294967296"}, 2, "", "--expect-sum needs a number"},
      {{"verify", "f", "--fast"}, 2, "", "unknown option '--fast'"},
      {{"list", "--help"}, 0, "Usage: vexa-pack list", ""},
      {{"extract", "--help"}, 0, "Usage: vexa-pack extract", ""},
      {{"list"}, 2, "", "expected one FILE"},
      {{"list", "f", "--force"}, 2, "", "unknown option '--force'"},
      {{"pack", "dir", "-o", "x", "--json"}, 2, "", "unknown option '--json'"},
      {{"extract", "f"}, 2, "", "-d DIR is required"},
      {{"extract", "f", "-d"}, 2, "", "-d needs a folder name"},
      {{"extract", "f", "-d", "out", "--json"}, 2, "", "unknown option '--json'"},
      {{"help"}, 0, "Usage: vexa-pack COMMAND", ""},
      {{"-h"}, 0, "Usage: vexa-pack COMMAND", ""},
      {{"list", "-h"}, 0, "Usage: vexa-pack list", ""},
      {{"build", "--help"},
       0,
       "Usage: vexa-pack build DIR -o FILE [--stub STUB] [--licence TEXT] [--greedy]\n",
       ""},
      {{"--version"}, 0, "vexa-pack " VEXA_VERSION "\n", ""},
      {{"list", "f", "--version"}, 2, "", "unknown option '--version'"},
      {{"build", "dir"}, 2, "", "-o FILE is required"},
      {{"build", "-o", "x"}, 2, "", "expected one folder DIR"},
      {{"build", "dir", "-o", "x", "--stub"}, 2, "", "--stub needs a file name"},
      {{"build", "dir", "-o", "x", "--licence"}, 2, "", "--licence needs a file name"},
      {{"build", "dir", "-o", "x", "--resource"}, 2, "", "unknown option '--resource'"},
      {{"list", "f", "--stub", "s"}, 2, "", "unknown option '--stub'"},
      {{"pack", "dir", "-o", "x", "--header"}, 2, "", "--header needs a file name"},
      {{"verify", "f", "--expect-archive"}, 2, "", "--expect-archive needs a file name"},
      {{"verify", "f", "--expect-sum"}, 2, "", "--expect-sum needs a number"},
      {{"verify", "f", "--expect-sum=12x"}, 2, "", "--expect-sum needs a number"},
      // Each value is checked, not only the last one, which is the one that counts.
      {{"verify", "f", "--expect-sum", "12x", "--expect-sum", "1"},
       2,
       "",
       "--expect-sum needs a number"},
      {{"--greedy", "pack", "dir", "-o", "x"}, 2, "", "unknown option '--greedy'"},
      // After "--" an option's name is a file name.
      {{"encode", "--", "--greedy", dir / "out"}, 1, "", "vexa-pack: --greedy: No such file"},
  };
  for (const auto& c : cases) {
    std::string line;
    for (const auto& a : c.args) line += a + " ";
    Result r = VexaPack(dir, c.args);
    EXPECT_EQ(r.exit, c.exit) << line;
    EXPECT_NE(r.out.find(c.out), std::string::npos) << line << r.out;
    EXPECT_NE(r.err.find(c.err), std::string::npos) << line << r.err;
  }
  // The project's version, so never empty.
  std::string version = VexaPack(dir, {"--version"}).out;
  EXPECT_TRUE(std::regex_match(version, std::regex("vexa-pack [0-9]+\\.[0-9]+\\.[0-9]+\n")))
      << version;
}

// A usage error is one line naming the problem, then the command's usage line and where
// to read more; the full help only on asking.
TEST(PackCli, UsageErrorsNameTheProblemThenTheShortUsage) {
  testfiles::TempDir dir;
  const struct {
    std::vector<std::string> args;
    const char* err;
  } cases[] = {
      {{},
       "vexa-pack: no command given\n"
       "Usage: vexa-pack COMMAND [ARGS]\n"
       "Run 'vexa-pack --help' for more.\n"},
      {{"unpack", "--help"},
       "vexa-pack: unknown command 'unpack'\n"
       "Usage: vexa-pack COMMAND [ARGS]\n"
       "Run 'vexa-pack --help' for more.\n"},
      {{"pack", "dir"},
       "vexa-pack: -o ARCHIVE is required\n"
       "Usage: vexa-pack pack [--greedy] DIR -o ARCHIVE [--header FILE] [--resource]\n"
       "Run 'vexa-pack pack --help' for more.\n"},
      {{"verify", "f", "--expect-sum", "-1"},
       "vexa-pack: --expect-sum needs a number from 0 to 4294967295\n"
       "Usage: vexa-pack verify FILE [--expect-sum N] [--expect-archive ARCHIVE] [--json]\n"
       "Run 'vexa-pack verify --help' for more.\n"},
      {{"build", "dir", "-o", "x", "--force"},
       "vexa-pack: unknown option '--force'\n"
       "Usage: vexa-pack build DIR -o FILE [--stub STUB] [--licence TEXT] [--greedy]\n"
       "Run 'vexa-pack build --help' for more.\n"},
  };
  for (const auto& c : cases) {
    Result r = VexaPack(dir, c.args);
    EXPECT_EQ(r.exit, 2) << c.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, c.err);
  }
}

TEST(PackCli, PackThenVerifyWithTheHeadersSum) {
  testfiles::TempDir dir;
  WritePayload(dir / "payload");
  fs::path archive = dir / "payload.bin", header = dir / "sum.h";
  Result pack = VexaPack(dir, {"pack", dir / "payload", "-o", archive, "--header", header});
  ASSERT_EQ(pack.exit, 0) << pack.err;

  Bytes text = testfiles::Read(header);
  std::string h(text.begin(), text.end());
  size_t at = h.find("#define EXPECTED_ARCHIVE_SUM 0x");
  ASSERT_NE(at, std::string::npos) << h;
  std::string sum = h.substr(at + 29, 10);

  Result verify = VexaPack(dir, {"verify", archive, "--expect-sum", sum});
  EXPECT_EQ(verify.exit, 0) << verify.err;
  for (int row = 0; row < SEGMENT_COUNT; row++) {
    EXPECT_NE(verify.out.find(TargetFileTable[row]), std::string::npos) << verify.out;
  }
  EXPECT_NE(verify.out.find("sum  " + sum), std::string::npos) << verify.out;
  // The first row starts after the opening marker; its decoded size is the file's.
  EXPECT_NE(verify.out.find("  0  vexa32.exe             4"), std::string::npos) << verify.out;
  EXPECT_NE(verify.out.find("307200      307200"), std::string::npos) << verify.out;

  Result wrong = VexaPack(dir, {"verify", archive, "--expect-sum", "12345"});
  EXPECT_EQ(wrong.exit, 1);
  EXPECT_NE(wrong.err.find("differs from the expected 0x00003039"), std::string::npos) << wrong.err;

  Bytes damaged = testfiles::Read(archive);
  damaged[damaged.size() - 20] ^= 0x40;
  testfiles::Write(dir / "damaged.bin", damaged);
  Result bad = VexaPack(dir, {"verify", dir / "damaged.bin", "--expect-sum", sum});
  EXPECT_EQ(bad.exit, 1);
}

TEST(PackCli, BadPayloadFilesAreNamedAndNothingIsWritten) {
  const struct {
    const char* name;
    std::function<void(const fs::path&)> spoil;
    const char* message;
  } cases[] = {
      {"missing", [](const fs::path& d) { fs::remove(d / "vexa.ini"); }, "/vexa.ini: missing"},
      {"empty", [](const fs::path& d) { testfiles::Write(d / "links.ini", {}); },
       "/links.ini: empty file"},
      {"oversized",
       [](const fs::path& d) { fs::resize_file(d / "about.txt", (uintmax_t)UINT32_MAX + 1); },
       "/about.txt: 4294967296 bytes, more than a segment's size field can hold"},
      {"a folder",
       [](const fs::path& d) {
         fs::remove(d / "menus.ini");
         fs::create_directory(d / "menus.ini");
       },
       "/menus.ini: not a regular file"},
  };
  for (const auto& c : cases) {
    testfiles::TempDir dir;
    WritePayload(dir / "payload");
    c.spoil(dir / "payload");
    Result r =
        VexaPack(dir, {"pack", dir / "payload", "-o", dir / "out.bin", "--header", dir / "sum.h"});
    EXPECT_EQ(r.exit, 1) << c.name;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.name << ": " << r.err;
    EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{"payload"}) << c.name;
  }
}

TEST(PackCli, EncodeAndDecodeOneSegment) {
  testfiles::TempDir dir;
  Bytes text = testfiles::Vector("text300k.bin");
  testfiles::Write(dir / "in.txt", text);
  ASSERT_EQ(VexaPack(dir, {"encode", dir / "in.txt", dir / "in.lzh"}).exit, 0);
  ASSERT_EQ(VexaPack(dir, {"decode", dir / "in.lzh", dir / "out.txt"}).exit, 0);
  EXPECT_TRUE(testfiles::Read(dir / "out.txt") == text);

  // Reference encodings decode through the tool too.
  Result reference = VexaPack(dir, {"decode", fs::path(VECTOR_DIR) / "crlf_ini.lzh", dir / "ini"});
  EXPECT_EQ(reference.exit, 0);
  EXPECT_TRUE(testfiles::Read(dir / "ini") == testfiles::Vector("crlf_ini.bin"));

  Bytes cut = testfiles::Read(dir / "in.lzh");
  cut.resize(cut.size() / 2);
  testfiles::Write(dir / "cut.lzh", cut);
  Result truncated = VexaPack(dir, {"decode", dir / "cut.lzh", dir / "cut.txt"});
  EXPECT_EQ(truncated.exit, 1);
  EXPECT_NE(truncated.err.find("cut.lzh: not a valid segment"), std::string::npos) << truncated.err;
  EXPECT_FALSE(fs::exists(dir / "cut.txt"));

  Result same = VexaPack(dir, {"encode", dir / "in.txt", dir / "in.txt"});
  EXPECT_EQ(same.exit, 1);
  EXPECT_NE(same.err.find("refusing to overwrite the input"), std::string::npos);
  EXPECT_TRUE(testfiles::Read(dir / "in.txt") == text);

  Result missing = VexaPack(dir, {"encode", dir / "nope", dir / "x"});
  EXPECT_EQ(missing.exit, 1);
  EXPECT_NE(missing.err.find("nope: No such file or directory"), std::string::npos) << missing.err;
}

}  // namespace

namespace {

TEST(PackCli, ResourceFormAndCarrierCheck) {
  testfiles::TempDir dir;
  WritePayload(dir / "payload");
  fs::path archive = dir / "plain.bin", resource = dir / "payload.rsrc";
  ASSERT_EQ(VexaPack(dir, {"pack", dir / "payload", "-o", archive}).exit, 0);
  ASSERT_EQ(VexaPack(dir, {"pack", dir / "payload", "-o", resource, "--resource"}).exit, 0);
  Bytes plain = testfiles::Read(archive), carried = testfiles::Read(resource);
  Bytes trailer = testfiles::Text("ARNI\r\n");
  Bytes expected = plain;
  expected.insert(expected.end(), trailer.begin(), trailer.end());
  EXPECT_EQ(carried, expected);

  // A carrier: code, the resource, more resources behind it.
  auto carrier = [&](const std::string& code) {
    Bytes bytes = testfiles::Text(code);
    bytes.insert(bytes.end(), carried.begin(), carried.end());
    Bytes tail = testfiles::Text("icons and relocations");
    bytes.insert(bytes.end(), tail.begin(), tail.end());
    return bytes;
  };
  const struct {
    const char* name;
    std::string code;
    int exit;
    const char* err;
  } cases[] = {
      {"clean code", "MZ\x90 code and data", 0, ""},
      {"the marker in the code", "MZ code ARNI data ", 1, "does not find the archive"},
      {"code ending in A", "MZ code A", 1, "does not find the archive"},
  };
  for (const auto& c : cases) {
    testfiles::Write(dir / "setup.exe", carrier(c.code));
    Result r = VexaPack(dir, {"verify", dir / "setup.exe", "--expect-archive", resource});
    EXPECT_EQ(r.exit, c.exit) << c.name << ": " << r.err;
    EXPECT_NE(r.err.find(c.err), std::string::npos) << c.name << ": " << r.err;
  }
}

}  // namespace

namespace {

std::string SumFromHeader(const fs::path& header) {
  Bytes text = testfiles::Read(header);
  std::string h(text.begin(), text.end());
  size_t at = h.find("#define EXPECTED_ARCHIVE_SUM 0x");
  return at == std::string::npos ? "" : h.substr(at + 29, 10);
}

// An archive carries no sum of its own: list and extract need the header's.
TEST(PackCli, ArchiveListsAndExtractsWithTheExpectedSum) {
  testfiles::TempDir dir;
  WritePayload(dir / "payload");
  fs::path archive = dir / "payload.bin", header = dir / "sum.h";
  ASSERT_EQ(VexaPack(dir, {"pack", dir / "payload", "-o", archive, "--header", header}).exit, 0);
  std::string sum = SumFromHeader(header);
  ASSERT_FALSE(sum.empty());

  Result list = VexaPack(dir, {"list", archive, "--expect-sum", sum});
  EXPECT_EQ(list.exit, 0) << list.err;
  EXPECT_EQ(list.err, "");
  EXPECT_NE(list.out.find("archive at offset 0"), std::string::npos) << list.out;
  EXPECT_NE(list.out.find("  0  vexa32.exe             4"), std::string::npos) << list.out;
  EXPECT_NE(list.out.find("expected  " + sum + "  matches (--expect-sum)"), std::string::npos)
      << list.out;

  Result unknown = VexaPack(dir, {"list", archive});
  EXPECT_EQ(unknown.exit, 5);
  EXPECT_NE(unknown.err.find("payload.bin: an archive holds no sum and no --expect-sum"),
            std::string::npos)
      << unknown.err;

  Result refused = VexaPack(dir, {"extract", archive, "-d", dir / "none"});
  EXPECT_EQ(refused.exit, 5);
  EXPECT_FALSE(fs::exists(dir / "none"));

  // The folder is made, down to a missing parent; nothing but the eleven files lands there.
  fs::path out = dir / "a" / "out";
  Result extract = VexaPack(dir, {"extract", archive, "-d", out, "--expect-sum", sum});
  ASSERT_EQ(extract.exit, 0) << extract.err;
  EXPECT_EQ(extract.err, "") << "no progress line when standard error is no terminal";
  std::vector<std::string> names(TargetFileTable, TargetFileTable + SEGMENT_COUNT);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(Listing(out), names);
  for (int row = 0; row < SEGMENT_COUNT; row++) {
    EXPECT_TRUE(testfiles::Read(out / TargetFileTable[row]) ==
                testfiles::Read(dir / "payload" / TargetFileTable[row]))
        << TargetFileTable[row];
  }
}

// One JSON object on standard output, the same figures as the table.
TEST(PackCli, JsonForScripts) {
  if (!packcli::HaveProgram("jq")) GTEST_SKIP() << "jq is not installed: the JSON is not checked";
  testfiles::TempDir dir;
  WritePayload(dir / "payload");
  fs::path archive = dir / "payload.bin", header = dir / "sum.h";
  ASSERT_EQ(VexaPack(dir, {"pack", dir / "payload", "-o", archive, "--header", header}).exit, 0);
  uint32_t sum = (uint32_t)std::stoul(SumFromHeader(header), nullptr, 16);
  auto query = [&](const std::string& json, const std::string& filter) {
    testfiles::Write(dir / "out.json", testfiles::Text(json));
    std::string value = packcli::Shell(
        dir, "jq -c " + packcli::Quote(filter) + " " + packcli::Quote(dir / "out.json"));
    if (!value.empty() && value.back() == '\n') value.pop_back();
    return value;
  };

  const struct {
    std::vector<std::string> args;
    int exit;
    std::vector<std::pair<std::string, std::string>> fields;  // jq filter, value
  } cases[] = {
      {{"list", archive, "--expect-sum", std::to_string(sum)},
       0,
       {{".kind", "\"archive\""},
        {".ok", "true"},
        {".exit", "0"},
        {".sum", std::to_string(sum)},
        {".expectSum", std::to_string(sum)},
        {".carriedSum", "null"},
        {".sumMatches", "true"},
        {".segments | length", "11"},
        {".segments[0] | [.row, .target, .offset, .decoded]", "[0,\"vexa32.exe\",4,307200]"},
        {".segments[10].target", "\"links.ini\""},
        {".problems", "[]"}}},
      {{"list", dir / "missing.bin"},
       1,
       {{".ok", "false"}, {".segments", "[]"}, {".problems[0].kind", "\"unreadable\""}}},
      {{"list", archive},
       5,
       {{".ok", "false"}, {".exit", "5"}, {".problems[0].kind", "\"no-expected-sum\""}}},
      {{"verify", archive, "--expect-sum", std::to_string(sum), "--json"},
       0,
       {{".ok", "true"}, {".sumMatches", "true"}, {".segments[4].target", "\"about.txt\""}}},
      {{"verify", archive, "--expect-sum", "7", "--json"},
       1,
       {{".sumMatches", "false"}, {".exit", "1"}, {".problems[0].kind", "\"sum-mismatch\""}}},
      {{"verify", dir / "missing.bin", "--json"},
       1,
       {{".segments", "[]"}, {".sum", "null"}, {".problems[0].kind", "\"unreadable\""}}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.args;
    if (args[0] == "list") args.push_back("--json");
    Result r = VexaPack(dir, args);
    SCOPED_TRACE(args[0] + " " + r.out);
    EXPECT_EQ(r.exit, c.exit) << r.err;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << "one line, one object";
    EXPECT_EQ(query(r.out, "type"), "\"object\"");
    for (const auto& [filter, value] : c.fields) EXPECT_EQ(query(r.out, filter), value) << filter;
  }
}

// A write that fails halfway (here: a file size limit) leaves the folder as it was, the
// files that --force would have replaced included.
TEST(PackCli, ExtractThatCannotWriteLeavesTheFolderAsItWas) {
  testfiles::TempDir dir;
  fs::path payload = dir / "payload";
  WritePayload(payload);
  testfiles::Write(payload / "vexa32.exe", testfiles::Text("small\r\n"));
  testfiles::Write(payload / "links.ini", testfiles::Random(200000, 1));  // last, and too big
  fs::path archive = dir / "payload.bin", header = dir / "sum.h";
  ASSERT_EQ(VexaPack(dir, {"pack", payload, "-o", archive, "--header", header}).exit, 0);

  fs::path out = dir / "out";
  fs::create_directories(out);
  testfiles::Write(out / "vexa.ini", testfiles::Text("the user's own settings"));
  testfiles::Write(out / "notes.txt", testfiles::Text("not ours"));
  // The limit is in 512-byte blocks; the shell ignores the signal so the write just fails.
  Result r = VexaPack(
      dir, {"extract", archive, "-d", out, "--force", "--expect-sum", SumFromHeader(header)},
      "trap '' XFSZ; ulimit -f 100; ");
  EXPECT_EQ(r.exit, 1);
  EXPECT_NE(r.err.find("/out/links.ini: File too large"), std::string::npos) << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  EXPECT_EQ(Listing(out), (std::vector<std::string>{"notes.txt", "vexa.ini"}));
  EXPECT_EQ(testfiles::Read(out / "vexa.ini"), testfiles::Text("the user's own settings"));
}

}  // namespace

namespace {

using Json = nlohmann::ordered_json;

// The one JSON line of a command, or a failure with the reason.
std::optional<Json> ParseLine(const std::string& out) {
  if (std::count(out.begin(), out.end(), '\n') != 1 || out.back() != '\n') {
    ADD_FAILURE() << "not one line: " << out;
    return std::nullopt;
  }
  try {
    return Json::parse(out);
  } catch (const std::exception& e) {
    ADD_FAILURE() << "not JSON: " << e.what() << ": " << out;
    return std::nullopt;
  }
}

std::vector<std::string> Keys(const Json& object) {
  std::vector<std::string> keys;
  for (const auto& item : object.items()) keys.push_back(item.key());
  return keys;
}

// However the options are written, the command gets their values: the JSON of an
// unreadable file gives FILE and --expect-sum back.
TEST(PackCli, EveryFormOfTheOptionsReachesTheCommand) {
  testfiles::TempDir dir;
  const struct {
    std::vector<std::string> args;
    const char* file;
    int64_t expectSum;
  } cases[] = {
      {{"list", "missing.bin", "--json", "--expect-sum", "7"}, "missing.bin", 7},
      {{"list", "--expect-sum=0x10", "--json", "missing.bin"}, "missing.bin", 16},
      {{"list", "missing.bin", "--expect-sum", "1", "--json", "--expect-sum=7"}, "missing.bin", 7},
      {{"list", "--json", "--expect-sum=5", "--", "-missing.bin"}, "-missing.bin", 5},
      {{"list", "--json", "--expect-sum=5", "--", "--json"}, "--json", 5},
      {{"list", "--json", "--expect-sum=5", "build"}, "build", 5},  // a command's name
      {{"verify", "missing.bin", "--json", "--expect-sum=4294967295"}, "missing.bin", 4294967295},
  };
  for (const auto& c : cases) {
    Result r = VexaPack(dir, c.args, "cd " + packcli::Quote(dir.path()) + " && ");
    SCOPED_TRACE(r.out);
    EXPECT_EQ(r.exit, 1) << r.err;
    std::optional<Json> json = ParseLine(r.out);
    if (!json) continue;
    EXPECT_EQ((*json)["file"], c.file);
    EXPECT_EQ((*json)["expectSum"], c.expectSum);
    EXPECT_EQ((*json)["problems"][0]["kind"], "unreadable");
  }
}

// A file name is any bytes: the JSON stays valid, with U+FFFD for each byte that is not
// UTF-8 and everything else as it was, the fields in the README's order.
TEST(PackCli, JsonIsValidWhateverTheFileName) {
  testfiles::TempDir dir;
  WritePayload(dir / "payload");
  const std::string name = "pay\xFFload \"caf\xC3\xA9\"\n",
                    seen = "pay\xEF\xBF\xBDload \"caf\xC3\xA9\"\n";
  fs::path archive = dir / (name + ".bin"), header = dir / "sum.h";
  ASSERT_EQ(VexaPack(dir, {"pack", dir / "payload", "-o", archive, "--header", header}).exit, 0);
  std::string sum = SumFromHeader(header);
  testfiles::Write(dir / "notes.txt", testfiles::Text("release notes\n"));

  const std::vector<std::string> list = {"file",          "kind",       "size",       "signed",
                                         "archiveOffset", "archiveEnd", "segments",   "sum",
                                         "carriedSum",    "expectSum",  "sumMatches", "ok",
                                         "exit",          "problems"};
  const std::vector<std::string> verify = {"file",       "segments", "sum",  "expectSum",
                                           "sumMatches", "ok",       "exit", "problems"};
  const std::string shown = (dir / seen).string();
  const struct {
    std::vector<std::string> args;
    int exit;
    const std::vector<std::string>& fields;
    std::string file;
  } cases[] = {
      {{"list", archive, "--expect-sum", sum, "--json"}, 0, list, shown + ".bin"},
      {{"verify", archive, "--expect-sum", sum, "--json"}, 0, verify, shown + ".bin"},
      {{"list", dir / (name + "gone"), "--json"}, 1, list, shown + "gone"},
      {{"verify", dir / (name + "gone"), "--json"}, 1, verify, shown + "gone"},
      // The name in a problem's message.
      {{"verify", dir / "notes.txt", "--expect-archive", archive, "--json"},
       1,
       verify,
       dir / "notes.txt"},
  };
  for (const auto& c : cases) {
    Result r = VexaPack(dir, c.args);
    SCOPED_TRACE(c.args[0] + " " + c.args[1]);
    EXPECT_EQ(r.exit, c.exit) << r.err;
    std::optional<Json> json = ParseLine(r.out);
    if (!json) continue;
    EXPECT_EQ((*json)["file"], c.file);
    EXPECT_EQ(Keys(*json), c.fields);
    const Json& segments = (*json)["segments"];
    if (!segments.empty()) {
      EXPECT_EQ(Keys(segments[0]), (std::vector<std::string>{"row", "target", "offset", "stored",
                                                             "declared", "decoded", "closed"}));
    }
    const Json& problems = (*json)["problems"];
    EXPECT_EQ(problems.empty(), c.exit == 0);
    if (!problems.empty()) {
      EXPECT_EQ(Keys(problems[0]), (std::vector<std::string>{"kind", "message"}));
    }
    if (c.args.size() > 3 && c.args[2] == "--expect-archive") {
      EXPECT_TRUE(std::any_of(problems.begin(), problems.end(), [&](const Json& p) {
        return p["kind"] == "archive-mismatch" &&
               p["message"].get<std::string>().find(shown) != std::string::npos;
      })) << r.out;
    }
  }
}

}  // namespace

namespace {

// Windows programs no one here wrote are not installers, whatever marker bytes their data
// hold: list and extract say so from the headers and resources alone, before any scan;
// verify still reads them exactly as the installer would.
TEST(PackCli, WindowsProgramsWithoutAnArchiveAreNoInstallers) {
  testfiles::TempDir dir;
  WritePayload(dir / "payload");
  ASSERT_EQ(VexaPack(dir, {"pack", dir / "payload", "-o", dir / "archive"}).exit, 0);
  Bytes archive = testfiles::Read(dir / "archive");
  Bytes warning = testfiles::Text("WARNING: ARNI is not a marker here\r\n");
  std::vector<vexa::ResourceLeaf> licenceOnly = {{vexa::ResourceId(vexa::kRtRcData),
                                                  vexa::ResourceId((uint16_t)3), 1033, 0,
                                                  testfiles::Text("terms\r\n***\r\n")}};
  const struct {
    const char* name;
    testpe::Options image;
    const char* problem;
    int verifyExit;
  } cases[] = {
      {"a 64-bit program with WARNING in its data",
       {.pe32Plus = true, .sections = {testpe::Code({0xC3}), testpe::Data(".data", warning)}},
       "a Windows program, but no installer: it is not a 32-bit program",
       1},
      {"a 32-bit program with WARNING in its data",
       {.sections = {testpe::Code({0xC3}), testpe::Data(".rdata", warning)}},
       "a Windows program, but no installer: it carries no archive (RCDATA 4)",
       1},
      {"a 32-bit program with resources, none of them the archive",
       {.sections = {testpe::Code({0xC3}), testpe::Data(".data", warning),
                     testpe::Resources(licenceOnly)}},
       "a Windows program, but no installer: it carries no archive (RCDATA 4)",
       1},
      {"a 32-bit program whose data happen to decode as an archive",
       {.sections = {testpe::Code({0xC3}), testpe::Data(".rdata", archive)}},
       "a Windows program, but no installer: it carries no archive (RCDATA 4)",
       0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::path file = dir / "program.exe";
    testfiles::Write(file, testpe::Image(c.image).bytes);
    std::string line = "vexa-pack: " + file.string() + ": " + c.problem + "\n";
    Result list = VexaPack(dir, {"list", file});
    EXPECT_EQ(list.exit, 3);
    EXPECT_EQ(list.err, line);
    EXPECT_EQ(list.out, "");
    Result json = VexaPack(dir, {"list", file, "--json"});
    nlohmann::json parsed = nlohmann::json::parse(json.out);
    EXPECT_EQ(parsed["problems"][0]["kind"], "not-a-carrier");
    EXPECT_EQ(parsed["problems"][0]["message"], c.problem);
    Result extract = VexaPack(dir, {"extract", file, "-d", dir / "out"});
    EXPECT_EQ(extract.exit, 3);
    EXPECT_EQ(extract.err, line);
    EXPECT_FALSE(fs::exists(dir / "out"));
    EXPECT_EQ(VexaPack(dir, {"verify", file}).exit, c.verifyExit);
  }
}

// Runs vexa-pack as a child of this process alone, so that its peak resident memory is its
// own: stdout and stderr go to files in dir.
struct Measured {
  int exit = -1;
  std::string err;
  long peakKiB = 0;
};
Measured RunMeasured(const testfiles::TempDir& dir, const std::vector<std::string>& args) {
  fs::path err = dir / "measured-stderr.txt";
  pid_t child = fork();
  if (child == 0) {
    int out = open("/dev/null", O_WRONLY);
    int errFd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(out, 1);
    dup2(errFd, 2);
    std::vector<char*> argv = {const_cast<char*>(VEXA_PACK)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(VEXA_PACK, argv.data());
    _exit(127);
  }
  Measured m;
  int status = 0;
  struct rusage usage = {};
  if (child > 0 && wait4(child, &status, 0, &usage) == child) {
    m.exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    m.peakKiB = usage.ru_maxrss;
  }
  Bytes e = testfiles::Read(err);
  m.err.assign(e.begin(), e.end());
  fs::remove(err);
  return m;
}

// A file larger than 32-bit sizes and offsets can describe is refused before any of it is
// read: each command stays far below the 64 MiB that reading even a sliver of it would
// pass (the file is sparse, 5 GiB).
TEST(PackCli, FilesBeyondFourGiBAreRefusedUnread) {
  testfiles::TempDir dir;
  WritePayload(dir / "payload");
  fs::path huge = dir / "huge.exe";
  testfiles::Write(huge, testfiles::Text("MZ"));
  std::error_code error;
  fs::resize_file(huge, 5ull << 30, error);  // sparse: no disk space needed
  if (error)
    GTEST_SKIP() << "this file system cannot hold a sparse 5 GiB file: " << error.message();
  fs::path big = dir / "big";
  fs::create_directories(big);
  for (int row = 0; row < SEGMENT_COUNT; row++)
    fs::copy_file(dir / "payload" / TargetFileTable[row], big / TargetFileTable[row]);
  fs::resize_file(big / "vexa32.exe", 5ull << 30);

  const std::string tooLarge =
      "5368709120 bytes: larger than any installer or archive can be "
      "(4 GiB - 1)";
  const std::string sizeField =
      "5368709120 bytes, more than a segment's size field can hold (4294967295)";
  const struct {
    std::vector<std::string> args;
    int exit;
    std::string err;
  } cases[] = {
      {{"list", huge}, 3, huge.string() + ": " + tooLarge},
      {{"verify", huge}, 1, huge.string() + ": " + tooLarge},
      {{"extract", huge, "-d", dir / "out"}, 3, huge.string() + ": " + tooLarge},
      {{"encode", huge, dir / "out.lzh"}, 1, huge.string() + ": " + sizeField},
      {{"build", dir / "payload", "-o", dir / "setup.exe", "--stub", huge},
       7,
       huge.string() + ": not an installer stub: " + tooLarge},
      {{"build", big, "-o", dir / "setup.exe", "--stub", huge},
       7,
       huge.string() + ": not an installer stub: " + tooLarge},
      {{"pack", big, "-o", dir / "archive"}, 1, (big / "vexa32.exe").string() + ": " + sizeField},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0]);
    Measured r = RunMeasured(dir, c.args);
    EXPECT_EQ(r.exit, c.exit) << r.err;
    EXPECT_EQ(r.err, "vexa-pack: " + c.err + "\n");
    EXPECT_LT(r.peakKiB, 64 * 1024) << "peak resident memory in KiB";
  }
  EXPECT_EQ(Listing(dir.path()), (std::vector<std::string>{"big", "huge.exe", "payload"}));
}

}  // namespace
