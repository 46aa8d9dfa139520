// Whole installation runs over carriers made by the archive writer, on real files: natively
// through the POSIX layer and under Wine through the Win32 one.
#include "engine/install_run.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "engine/existing_files.h"
#include "engine/file_system.h"
#include "engine/wizard_link.h"
#include "pack/archive.h"
#include "tests/fake_wizard.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <stdlib.h>
#include <unistd.h>

#include "engine/file_system_posix.h"
#endif

uint32_t ExpectedArchiveSum;

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

const Bytes kMarker = {'A', 'R', 'N', 'I'};

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

Bytes TextBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

// A fresh folder per test, named by its Windows path.
class Area {
 public:
  Area() {
    static int counter;
#ifdef _WIN32
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    base_ = std::string(temp) + "vexa_run_" + std::to_string(GetCurrentProcessId()) + "_" +
            std::to_string(counter++);
    fs::create_directories(base_);
#else
    std::string pattern = (fs::temp_directory_path() / "vexa_run_XXXXXX").string();
    root_ = mkdtemp(pattern.data());
    FsPosixSetRoot(root_.c_str());
    base_ = "c:\\area" + std::to_string(counter++);
    fs::create_directories(Host(base_));
#endif
  }
  ~Area() {
    std::error_code ignored;
    MakeWritable(Host(base_));
    fs::remove_all(Host(base_), ignored);
#ifndef _WIN32
    fs::remove_all(root_, ignored);
#endif
  }
  Area(const Area&) = delete;
  Area& operator=(const Area&) = delete;

  std::string Win(const std::string& relative) const { return base_ + "\\" + relative; }
  const std::string& base() const { return base_; }

  static fs::path Host(const std::string& win) {
#ifdef _WIN32
    return fs::path(win);
#else
    return fs::path(FsHostPath(win.c_str()));
#endif
  }

 private:
  static void MakeWritable(const fs::path& path) {
    std::error_code ignored;
    if (!fs::exists(path, ignored)) return;
    fs::permissions(path, fs::perms::owner_write, fs::perm_options::add, ignored);
    if (fs::is_directory(path, ignored)) {
      for (const auto& entry : fs::recursive_directory_iterator(path, ignored)) {
        fs::permissions(entry.path(), fs::perms::owner_write, fs::perm_options::add, ignored);
      }
    }
  }
  std::string base_;
#ifndef _WIN32
  std::string root_;
#endif
};

Bytes ReadAt(const std::string& win) {
  std::ifstream in(Area::Host(win), std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteAt(const std::string& win, const Bytes& bytes) {
  std::ofstream out(Area::Host(win), std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), (std::streamsize)bytes.size());
}

bool ExistsAt(const std::string& win) { return fs::exists(Area::Host(win)); }

void SetReadOnly(const std::string& win) {
  fs::permissions(Area::Host(win),
                  fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
}

bool IsReadOnly(const std::string& win) {
  return (fs::status(Area::Host(win)).permissions() & fs::perms::owner_write) == fs::perms::none;
}

// Everything below a folder: relative name, content and read-only flag.
struct Entry {
  Bytes content;
  bool readOnly;
  bool folder;
  bool operator==(const Entry& o) const {
    return content == o.content && readOnly == o.readOnly && folder == o.folder;
  }
};
using Listing = std::map<std::string, Entry>;

Listing ListAt(const std::string& win) {
  Listing listing;
  fs::path host = Area::Host(win);
  if (!fs::exists(host)) return listing;
  for (const auto& e : fs::recursive_directory_iterator(host)) {
    std::string name = fs::relative(e.path(), host).generic_string();
    bool folder = e.is_directory();
    bool readOnly = (e.status().permissions() & fs::perms::owner_write) == fs::perms::none;
    Entry entry{folder ? Bytes{} : ReadAt(win + "\\" + name), readOnly, folder};
    listing[name] = entry;
  }
  return listing;
}

std::string Join(const std::vector<std::string>& names) {
  std::string all;
  for (const auto& n : names) all += n + "; ";
  return all;
}

// The eleven files of one version of the product; row 0 spans several steps.
std::vector<Bytes> Payload(int version) {
  std::vector<Bytes> files;
  std::mt19937 random(version);
  for (int row = 0; row < SEGMENT_COUNT; row++) {
    std::string text =
        "version " + std::to_string(version) + " of " + TargetFileTable[row] + "\r\n";
    Bytes bytes;
    int repeats = row == 0 ? 1200 : 3 + row;
    for (int k = 0; k < repeats; k++) bytes.insert(bytes.end(), text.begin(), text.end());
    if (row <= 1) {
      for (int k = 0; k < 6000; k++) bytes.push_back((uint8_t)random());
    }
    files.push_back(bytes);
  }
  return files;
}

// Code and data in front of the archive, free of the marker's letters, and what a real
// carrier has behind it.
Bytes CarrierAround(const Bytes& archive, size_t codeBytes = 15000) {
  Bytes code = TextBytes("MZ");
  std::mt19937 random(99);
  while (code.size() < codeBytes) code.push_back((uint8_t)(random() % 0x40));
  return Cat({code, archive, kMarker, TextBytes("\r\n"), Bytes(3000, 0xCC)});
}

struct RunResult {
  int result;  // RUN_DONE, RUN_FAILED or RUN_RETRY_OPTIONS
  int steps;
  std::vector<std::string> captions;
};

// Drives a run as the wizard dialog does, from Install to the run's end.
RunResult Install(const std::string& destination) {
  ResetFakeWizard();
  CopyText(DestinationFolder, FOLDER_TEXT_SIZE, destination.c_str());
  RunResult outcome{RUN_FAILED, 0, {}};
  ResetRun();
  ShowScanStatus();
  DrawInstallBar(nullptr, nullptr);
  if (CreateDestination() == RUN_RETRY_OPTIONS) {
    outcome.result = RUN_RETRY_OPTIONS;
  } else if (OpenCarrier() != RUN_DONE) {
    AbandonRun();
  } else {
    for (;;) {
      outcome.steps++;
      int result = RunStep();
      if (result == RUN_MORE) continue;
      if (result != RUN_DONE) AbandonRun();
      outcome.result = result;
      break;
    }
  }
  for (const auto& box : Wizard.boxes) outcome.captions.push_back(box.caption);
  return outcome;
}

class InstallRunTest : public testing::Test {
 protected:
  void SetUp() override {
    MakeBackups = KeepSettings = 0;
    SetTempFolder(area.Win("temp"));
    fs::create_directories(Area::Host(area.Win("temp")));
  }
  void TearDown() override {
    AbandonRun();
    SetTempFolder(std::string());
  }

  static void SetTempFolder(const std::string& folder) {
#ifdef _WIN32
    SetEnvironmentVariableA("TMP", folder.empty() ? nullptr : folder.c_str());
    SetEnvironmentVariableA("TEMP", folder.empty() ? nullptr : folder.c_str());
#else
    if (folder.empty()) {
      unsetenv("TMP");
      unsetenv("TEMP");
    } else {
      setenv("TMP", folder.c_str(), 1);
      unsetenv("TEMP");
    }
#endif
  }

  // Writes the carrier and makes it this program's own file; returns its archive sum.
  uint32_t UseCarrier(const Bytes& carrier, uint32_t sum) {
    carrierFile = area.Win("setup.exe");
    WriteAt(carrierFile, carrier);
    FsUseCarrier(carrierFile.c_str());
    ExpectedArchiveSum = sum;
    return sum;
  }

  void UsePayload(const std::vector<Bytes>& files) {
    vexa::Archive archive = vexa::BuildArchive(files);
    UseCarrier(CarrierAround(archive.bytes), archive.sum);
  }

  void ExpectInstalled(const std::string& folder, const std::vector<Bytes>& files) {
    for (int row = 0; row < SEGMENT_COUNT; row++) {
      std::string path = folder + "\\" + TargetFileTable[row];
      EXPECT_TRUE(ReadAt(path) == files[row]) << path;
    }
  }

  void ExpectNoTempFile() { EXPECT_FALSE(ExistsAt(area.Win("temp\\vexa.tmp"))); }

  Area area;
  std::string carrierFile;
};

TEST_F(InstallRunTest, InstallsEveryRowIntoANewFolder) {
  std::vector<Bytes> files = Payload(1);
  UsePayload(files);
  RunResult run = Install(area.Win("vexa"));
  EXPECT_EQ(run.result, RUN_DONE) << Join(run.captions);
  EXPECT_TRUE(run.captions.empty());
  ExpectInstalled(area.Win("vexa"), files);
  ExpectNoTempFile();
  EXPECT_EQ(::Run.segmentIndex, SEGMENT_COUNT);
  EXPECT_EQ(::Run.carrierStream, nullptr);
  // Every full step reads 10,001 bytes; the archive ends after the first 10,001-byte steps.
  EXPECT_GT(run.steps, 1);
  // Status texts: the start, the opening marker, and each row's extraction.
  EXPECT_EQ(Wizard.statusTexts.front(), "Scanning files...");
  EXPECT_NE(std::find(Wizard.statusTexts.begin(), Wizard.statusTexts.end(),
                      "Extracting file: vexa32.exe"),
            Wizard.statusTexts.end());
  EXPECT_NE(
      std::find(Wizard.statusTexts.begin(), Wizard.statusTexts.end(), "Scanning file: links.ini"),
      Wizard.statusTexts.end());
  EXPECT_EQ(Wizard.statusTexts.back(), "Extracting file: links.ini");
  EXPECT_EQ(Wizard.fileBarErases, SEGMENT_COUNT);
}

TEST_F(InstallRunTest, MarkerSplitAcrossStepsIsStillFound) {
  std::vector<Bytes> files = Payload(2);
  vexa::Archive archive = vexa::BuildArchive(files);
  // The opening marker starts 3, 2, 1 and 0 bytes before a step's end.
  for (int codeBytes : {STEP_BUDGET - 2, STEP_BUDGET - 1, (int)STEP_BUDGET, STEP_BUDGET + 1}) {
    SCOPED_TRACE(codeBytes);
    UseCarrier(CarrierAround(archive.bytes, (size_t)codeBytes), archive.sum);
    RunResult run = Install(area.Win("vexa"));
    EXPECT_EQ(run.result, RUN_DONE) << Join(run.captions);
    ExpectInstalled(area.Win("vexa"), files);
  }
}

TEST_F(InstallRunTest, HandBuiltCarriers) {
  std::vector<Bytes> files = Payload(3);
  vexa::Archive archive = vexa::BuildArchive(files);
  std::vector<Bytes> bodies;
  for (const auto& s : archive.segments) bodies.push_back(s.body);
  auto build = [&](std::vector<Bytes> b, bool closing) {
    Bytes a = kMarker;
    for (size_t i = 0; i < b.size(); i++) {
      a = Cat({a, b[i]});
      if (i + 1 < b.size() || closing) a = Cat({a, kMarker});
    }
    return a;
  };
  auto sumOf = [](const Bytes& a) { return vexa::ArchiveSum(Bytes(a.begin() + 4, a.end())); };
  std::vector<Bytes> zeroSize = bodies;
  std::memset(zeroSize[4].data(), 0, 4);
  std::vector<Bytes> flipped = bodies;
  flipped[6][flipped[6].size() / 2] ^= 0x10;
  std::vector<Bytes> ten(bodies.begin(), bodies.end() - 1);

  const struct {
    const char* name;
    Bytes carrier;
    uint32_t sum;
    int result;
    const char* caption;  // the one error box expected, or nullptr
  } cases[] = {
      {"more than twelve markers: the rest is never read",
       Cat({build(bodies, true), Bytes{0x09, 0x00, 0x00, 0x00}, TextBytes("junkjunk"), kMarker,
            TextBytes("tail")}),
       archive.sum, RUN_DONE, nullptr},
      {"the file ends without the closing marker", build(bodies, false),
       sumOf(build(bodies, false)), RUN_DONE, nullptr},
      {"the file ends inside the closing marker", Cat({build(bodies, false), TextBytes("AR")}),
       sumOf(Cat({build(bodies, false), TextBytes("AR")})), RUN_DONE, nullptr},
      {"a wrong sum", build(bodies, true), archive.sum + 1, RUN_FAILED,
       "Vexa Installation Error [13]"},
      {"one byte flipped inside a segment", build(flipped, true), archive.sum, RUN_FAILED, nullptr},
      {"a size field of 0", build(zeroSize, true), sumOf(build(zeroSize, true)), RUN_FAILED,
       "Vexa Installation Error [5]"},
      {"fewer than eleven segments", build(ten, true), sumOf(build(ten, true)), RUN_FAILED,
       "Vexa Installation Error [5]"},
      {"no marker at all", TextBytes("MZ just code, no archive"), archive.sum, RUN_FAILED,
       "Vexa Installation Error [13]"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    UseCarrier(c.carrier, c.sum);
    RunResult run = Install(area.Win("vexa"));
    EXPECT_EQ(run.result, c.result) << Join(run.captions);
    if (c.result == RUN_DONE) {
      ExpectInstalled(area.Win("vexa"), files);
      fs::remove_all(Area::Host(area.Win("vexa")));
    } else {
      // Rolled back: no target, no temporary file, no folder the run created.
      EXPECT_FALSE(ExistsAt(area.Win("vexa")));
      ExpectNoTempFile();
      EXPECT_EQ(run.captions.size(), 1u);
      if (c.caption != nullptr) {
        EXPECT_EQ(Join(run.captions), std::string(c.caption) + "; ");
      }
    }
  }
}

// A body whose last byte is "A", held back when the file ends there.
TEST_F(InstallRunTest, HeldBackBytesAtTheEndOfTheFileBelongToTheLastSegment) {
  std::vector<Bytes> files = Payload(4);
  Bytes lastBody;
  for (uint32_t seed = 0; seed < 50000 && lastBody.empty(); seed++) {
    std::mt19937 random(seed);
    Bytes data(30);
    for (auto& b : data) b = (uint8_t)random();
    Bytes body = vexa::EncodeSegment(data).body;
    if (body.back() == 'A' && vexa::FindMarkerBytes(body) == std::string::npos) {
      files[10] = data;
      lastBody = body;
    }
  }
  ASSERT_FALSE(lastBody.empty());
  vexa::Archive archive = vexa::BuildArchive(files);
  // The archive without its closing marker, and row 10's body without its fill byte.
  Bytes a(archive.bytes.begin(),
          archive.bytes.end() - 4 - (ptrdiff_t)archive.segments[10].body.size());
  a = Cat({a, lastBody});
  UseCarrier(a, vexa::ArchiveSum(Bytes(a.begin() + 4, a.end())));
  RunResult run = Install(area.Win("vexa"));
  EXPECT_EQ(run.result, RUN_DONE) << Join(run.captions);
  ExpectInstalled(area.Win("vexa"), files);
}

TEST_F(InstallRunTest, DestinationProblems) {
  std::vector<Bytes> files = Payload(5);
  UsePayload(files);
  WriteAt(area.Win("afile"), TextBytes("not a folder"));
  const struct {
    const char* name;
    std::string destination;
    int result;
    const char* caption;
  } cases[] = {
      {"parent missing", area.Win("no\\such\\vexa"), RUN_RETRY_OPTIONS,
       "Vexa Installation Error [1]"},
      {"too long for the run's paths", area.Win(std::string(299 - area.Win("").size(), 'x')),
       RUN_RETRY_OPTIONS, "Vexa Installation Error [1]"},
      {"an existing file", area.Win("afile"), RUN_FAILED, "Vexa Installation Error [4]"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Listing before = ListAt(area.base());
    RunResult run = Install(c.destination);
    EXPECT_EQ(run.result, c.result);
    EXPECT_EQ(Join(run.captions), std::string(c.caption) + "; ");
    EXPECT_TRUE(ListAt(area.base()) == before);
  }
}

TEST_F(InstallRunTest, TemporaryFolder) {
  std::vector<Bytes> files = Payload(6);
  UsePayload(files);
  // Not writable: no such folder.
  SetTempFolder(area.Win("gone"));
  RunResult missing = Install(area.Win("vexa"));
  EXPECT_EQ(missing.result, RUN_FAILED);
  EXPECT_EQ(Join(missing.captions), "Vexa Installation Error [11]; ");
  EXPECT_FALSE(ExistsAt(area.Win("vexa")));

  // A folder too long for the 300-character buffer counts as none: c:\vexa.tmp.
  SetTempFolder("c:\\" + std::string(320, 't'));
  RunResult tooLong = Install(area.Win("vexa"));
  EXPECT_EQ(tooLong.result, RUN_DONE) << Join(tooLong.captions);
  EXPECT_STREQ(::Run.tempPath, "c:\\vexa.tmp");
  ExpectInstalled(area.Win("vexa"), files);
}

struct UpgradeCase {
  const char* name;
  int makeBackups, keepSettings;
  // Per row: what the folder holds afterwards: 'N' the new file, 'O' the old one.
  const char* rows;
  bool backups;  // the earlier files of the replaced rows sit in "backup"
};

TEST_F(InstallRunTest, ExistingFilesByOptions) {
  std::vector<Bytes> oldFiles = Payload(7), newFiles = Payload(8);
  const UpgradeCase cases[] = {
      {"overwrite", 0, 0, "NNNNNNNNNNN", false},
      {"backups", 1, 0, "NNNNNNNNNNN", true},
      {"keep settings", 0, 1, "NNNNNNOOOOO", false},
      {"backups and kept settings", 1, 1, "NNNNNNOOOOO", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string dest = area.Win(std::string("up_") + std::to_string(c.makeBackups) +
                                std::to_string(c.keepSettings));
    fs::create_directories(Area::Host(dest));
    for (int row = 0; row < SEGMENT_COUNT; row++) {
      WriteAt(dest + "\\" + TargetFileTable[row], oldFiles[row]);
      if (row % 2 == 0) SetReadOnly(dest + "\\" + TargetFileTable[row]);
    }
    UsePayload(newFiles);
    MakeBackups = c.makeBackups;
    KeepSettings = c.keepSettings;
    RunResult run = Install(dest);
    ASSERT_EQ(run.result, RUN_DONE) << Join(run.captions);
    for (int row = 0; row < SEGMENT_COUNT; row++) {
      std::string path = dest + "\\" + TargetFileTable[row];
      const Bytes& want = c.rows[row] == 'N' ? newFiles[row] : oldFiles[row];
      EXPECT_TRUE(ReadAt(path) == want) << path;
      EXPECT_FALSE(IsReadOnly(path)) << path;
      std::string backup = dest + "\\backup\\" + TargetFileTable[row];
      if (c.backups && c.rows[row] == 'N') {
        EXPECT_TRUE(ReadAt(backup) == oldFiles[row]) << backup;
      } else {
        EXPECT_FALSE(ExistsAt(backup)) << backup;
      }
    }
  }
}

TEST_F(InstallRunTest, SecondInstallReusesTheBackupFolder) {
  std::vector<Bytes> v1 = Payload(9), v2 = Payload(10);
  MakeBackups = 1;
  UsePayload(v1);
  ASSERT_EQ(Install(area.Win("vexa")).result, RUN_DONE);
  UsePayload(v2);
  ASSERT_EQ(Install(area.Win("vexa")).result, RUN_DONE);
  UsePayload(v1);
  ASSERT_EQ(Install(area.Win("vexa")).result, RUN_DONE);
  // Only the latest earlier version is kept.
  ExpectInstalled(area.Win("vexa"), v1);
  ExpectInstalled(area.Win("vexa\\backup"), v2);
}

TEST_F(InstallRunTest, IniInTheFolderNameDoesNotMakeEveryRowASettingsFile) {
  std::vector<Bytes> oldFiles = Payload(11), newFiles = Payload(12);
  std::string dest = area.Win("my.ini.files");
  fs::create_directories(Area::Host(dest));
  for (int row = 0; row < SEGMENT_COUNT; row++)
    WriteAt(dest + "\\" + TargetFileTable[row], oldFiles[row]);
  UsePayload(newFiles);
  KeepSettings = 1;
  ASSERT_EQ(Install(dest).result, RUN_DONE);
  for (int row = 0; row < SEGMENT_COUNT; row++) {
    EXPECT_TRUE(ReadAt(dest + "\\" + TargetFileTable[row]) ==
                (row < 6 ? newFiles[row] : oldFiles[row]))
        << TargetFileTable[row];
  }
}

TEST_F(InstallRunTest, FailedUpgradeLeavesTheEarlierInstallationInPlace) {
  std::vector<Bytes> oldFiles = Payload(13), newFiles = Payload(14);
  const struct {
    const char* name;
    int makeBackups, keepSettings;
    bool makeBackupAFile;
    const char* caption;
  } cases[] = {
      {"wrong sum after all rows, backups on", 1, 0, false, "Vexa Installation Error [13]"},
      {"wrong sum, backups and kept settings", 1, 1, false, "Vexa Installation Error [13]"},
      {"a file named backup", 1, 0, true, "Vexa Installation Error [7]"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string dest = area.Win(std::string("fail_") + std::to_string(&c - cases));
    fs::create_directories(Area::Host(dest));
    for (int row = 0; row < SEGMENT_COUNT; row++) {
      WriteAt(dest + "\\" + TargetFileTable[row], oldFiles[row]);
      if (row == 3) SetReadOnly(dest + "\\" + TargetFileTable[row]);
    }
    WriteAt(dest + "\\vexa.gid", TextBytes("help cache"));
    if (c.makeBackupAFile) WriteAt(dest + "\\backup", TextBytes("a file"));
    Listing before = ListAt(dest);

    vexa::Archive archive = vexa::BuildArchive(newFiles);
    UseCarrier(CarrierAround(archive.bytes), archive.sum + (c.makeBackupAFile ? 0 : 1));
    MakeBackups = c.makeBackups;
    KeepSettings = c.keepSettings;
    RunResult run = Install(dest);
    EXPECT_NE(run.result, RUN_DONE);
    EXPECT_EQ(Join(run.captions), std::string(c.caption) + "; ");

    // Every earlier file is back; only the backup copies and cleared attributes differ.
    Listing after = ListAt(dest);
    for (auto& [name, entry] : before) {
      ASSERT_TRUE(after.count(name)) << name;
      EXPECT_TRUE(after[name].content == entry.content) << name;
    }
    for (auto& [name, entry] : after) {
      if (name == "backup" || name.rfind("backup/", 0) == 0) continue;
      EXPECT_TRUE(before.count(name)) << "left behind: " << name;
    }
    EXPECT_TRUE(ExistsAt(dest + "\\vexa.gid"));
    ExpectNoTempFile();
  }
}

// With backups on, a folder named like a target is moved into the backup folder like a
// file; a failed run must put it back in its place, with what it holds.
TEST_F(InstallRunTest, FolderInATargetsPlaceIsPutBackByTheRollback) {
  std::vector<Bytes> files = Payload(19);
  std::string dest = area.Win("vexa");
  fs::create_directories(Area::Host(dest + "\\about.txt"));
  fs::create_directories(Area::Host(dest + "\\vexa.ini"));
  WriteAt(dest + "\\vexa.ini\\notes.txt", TextBytes("the user's notes"));
  Listing before = ListAt(dest);
  vexa::Archive archive = vexa::BuildArchive(files);
  UseCarrier(CarrierAround(archive.bytes), archive.sum + 1);
  MakeBackups = 1;
  RunResult run = Install(dest);
  EXPECT_EQ(Join(run.captions), "Vexa Installation Error [13]; ");
  Listing after = ListAt(dest);
  for (auto& [name, entry] : before) {
    ASSERT_TRUE(after.count(name)) << name << " is not back in its place";
    EXPECT_TRUE(after[name] == entry) << name;
  }
  for (auto& [name, entry] : after) {
    if (name == "backup") continue;
    EXPECT_TRUE(before.count(name)) << "left behind: " << name;
  }
  ExpectNoTempFile();
}

TEST_F(InstallRunTest, BackupFolderThatCannotBeCreated) {
#ifdef _WIN32
  GTEST_SKIP() << "needs a name that exists for creation but not for the existence test";
#else
  std::vector<Bytes> oldFiles = Payload(15), newFiles = Payload(16);
  std::string dest = area.Win("vexa");
  fs::create_directories(Area::Host(dest));
  for (int row = 0; row < SEGMENT_COUNT; row++)
    WriteAt(dest + "\\" + TargetFileTable[row], oldFiles[row]);
  // A dangling link: nothing exists there, yet no folder can be made under its name.
  fs::create_symlink("/nonexistent/target", Area::Host(dest + "\\backup"));
  UsePayload(newFiles);
  MakeBackups = 1;
  RunResult run = Install(dest);
  EXPECT_EQ(run.result, RUN_RETRY_OPTIONS);
  EXPECT_EQ(Join(run.captions), "Vexa Installation Error [6]; ");
  ExpectInstalled(dest, oldFiles);
#endif
}

TEST_F(InstallRunTest, HelpCachesGoOnlyAfterASuccessfulRunWroteTheirHelpFile) {
  std::vector<Bytes> files = Payload(17);
  std::string dest = area.Win("vexa");
  fs::create_directories(Area::Host(dest));
  WriteAt(dest + "\\vexa.gid", TextBytes("cache"));
  WriteAt(dest + "\\primer.gid", TextBytes("cache"));
  SetReadOnly(dest + "\\primer.gid");
  UsePayload(files);
  ASSERT_EQ(Install(dest).result, RUN_DONE);
  EXPECT_FALSE(ExistsAt(dest + "\\vexa.gid"));
  EXPECT_FALSE(ExistsAt(dest + "\\primer.gid"));

  // Row 3 fails to decode: the run is rolled back, and both caches stay with the earlier
  // help files.
  vexa::Archive archive = vexa::BuildArchive(files);
  std::vector<Bytes> bodies;
  for (const auto& s : archive.segments) bodies.push_back(s.body);
  std::memset(bodies[3].data(), 0, 4);
  Bytes a = kMarker;
  for (const auto& b : bodies) a = Cat({a, b, kMarker});
  WriteAt(dest + "\\vexa.gid", TextBytes("cache"));
  WriteAt(dest + "\\primer.gid", TextBytes("cache"));
  UseCarrier(CarrierAround(a), vexa::ArchiveSum(Bytes(a.begin() + 4, a.end())));
  RunResult run = Install(dest);
  EXPECT_EQ(Join(run.captions), "Vexa Installation Error [5]; ");
  EXPECT_TRUE(ExistsAt(dest + "\\vexa.gid"));
  EXPECT_TRUE(ExistsAt(dest + "\\primer.gid"));
}

TEST_F(InstallRunTest, StepsOnlyRunWhileARunIsOpenAndNoStepIsRunning) {
  std::vector<Bytes> files = Payload(18);
  vexa::Archive archive = vexa::BuildArchive(files);
  UseCarrier(CarrierAround(archive.bytes), archive.sum + 1);
  // A step message delivered while the step's error box is open must not run a step.
  int nested = -1;
  ResetFakeWizard();
  CopyText(DestinationFolder, FOLDER_TEXT_SIZE, area.Win("vexa").c_str());
  ResetRun();
  EXPECT_FALSE(StepWanted());
  ASSERT_EQ(CreateDestination(), RUN_DONE);
  ASSERT_EQ(OpenCarrier(), RUN_DONE);
  Wizard.whileBoxIsOpen = [&] { nested = StepWanted(); };
  int result;
  while ((result = RunStep()) == RUN_MORE) {
  }
  EXPECT_EQ(result, RUN_FAILED);
  EXPECT_EQ(nested, 0);
  EXPECT_FALSE(StepWanted());
  // Abandoning twice is harmless.
  AbandonRun();
  AbandonRun();
  EXPECT_FALSE(ExistsAt(area.Win("vexa")));
  EXPECT_EQ(::Run.segmentIndex, 0);
}

TEST_F(InstallRunTest, AStepResumesAtTheByteWhereTheLastOneStopped) {
  std::vector<Bytes> files = Payload(19);
  UsePayload(files);
  ResetFakeWizard();
  CopyText(DestinationFolder, FOLDER_TEXT_SIZE, area.Win("vexa").c_str());
  ResetRun();
  ASSERT_EQ(CreateDestination(), RUN_DONE);
  ASSERT_EQ(OpenCarrier(), RUN_DONE);
  long expected = 0;
  int result;
  do {
    EXPECT_EQ(ftell(::Run.carrierStream), expected);
    // While the abort question is open, step messages are dropped; the run stays put.
    AbortPending = 1;
    AbortPending = 0;
    result = RunStep();
    expected += STEP_BUDGET + 1;
  } while (result == RUN_MORE);
  EXPECT_EQ(result, RUN_DONE);
  ExpectInstalled(area.Win("vexa"), files);
}

}  // namespace

#ifndef _WIN32
namespace {

// A disk that fills up: the N-th byte written to a target fails. The run reports [5] and
// takes back every file it wrote, the partly written one included.
TEST_F(InstallRunTest, WriteFailureInAnyRowIsReportedAndRolledBack) {
  std::vector<Bytes> files = Payload(20);
  UsePayload(files);
  const struct {
    const char* target;
    long failAfter;
  } cases[] = {
      {"vexa32.exe", 0},
      {"vexa32.exe", 4095},
      {"vexa32.exe", 4096},
      {"vexa32.exe", 20000},
      {"vexa.hlp", 10},
      {"links.ini", 0},
      {"links.ini", (long)files[10].size() - 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.target) + " after " + std::to_string(c.failAfter));
    FsPosixFailWrites(c.target, c.failAfter);
    RunResult run = Install(area.Win("vexa"));
    FsPosixFailWrites(nullptr, -1);
    EXPECT_EQ(run.result, RUN_FAILED);
    EXPECT_EQ(Join(run.captions), "Vexa Installation Error [5]; ");
    EXPECT_FALSE(ExistsAt(area.Win("vexa")));
    ExpectNoTempFile();
  }
}

}  // namespace
#endif
