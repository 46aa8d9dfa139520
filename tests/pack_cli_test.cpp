// vexa-pack as the release engineer meets it: its exit codes, messages and files.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>

#include "engine/archive_format.h"
#include "tests/test_files.h"

namespace {

namespace fs = std::filesystem;
using testfiles::Bytes;

struct Result {
  int exit;
  std::string out, err;
};

std::string Quote(const std::string& arg) {
  std::string quoted = "'";
  for (char c : arg) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

Result VexaPack(const testfiles::TempDir& dir, const std::vector<std::string>& args) {
  std::string command = Quote(VEXA_PACK);
  for (const auto& a : args) {
    command += ' ';
    command += Quote(a);
  }
  fs::path out = dir / "stdout.txt", err = dir / "stderr.txt";
  command.append(" >").append(Quote(out)).append(" 2>").append(Quote(err));
  int status = std::system(command.c_str());
  Bytes o = testfiles::Read(out), e = testfiles::Read(err);
  fs::remove(out);
  fs::remove(err);
  return {WEXITSTATUS(status), std::string(o.begin(), o.end()), std::string(e.begin(), e.end())};
}

void WritePayload(const fs::path& dir) {
  fs::create_directories(dir);
  for (int row = 0; row < SEGMENT_COUNT; row++) {
    Bytes bytes = testfiles::Text(std::string("[") + TargetFileTable[row] + "]\r\nkey=value\r\n");
    if (row == 0) bytes = testfiles::Vector("x86_300k.bin");
    testfiles::Write(dir / TargetFileTable[row], bytes);
  }
}

std::vector<std::string> Listing(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
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
  };
  for (const auto& c : cases) {
    std::string line;
    for (const auto& a : c.args) line += a + " ";
    Result r = VexaPack(dir, c.args);
    EXPECT_EQ(r.exit, c.exit) << line;
    EXPECT_NE(r.out.find(c.out), std::string::npos) << line << r.out;
    EXPECT_NE(r.err.find(c.err), std::string::npos) << line << r.err;
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
