// Acceptance of the real installer under Wine, one row per scenario, each in a fresh prefix:
// every way a run can fail and what the rollback leaves, installations over earlier ones,
// Windows versions with the program manager and the 3D-controls library, signed carriers.
// A row states its set-up, the options clicked, every box with its text and answer, the
// page or end that follows, the exit code and the state of the disk afterwards.
//
// Covered elsewhere (wine_ui_test.cpp) and not repeated here: the abort question answered
// No resumes the run and installs every file (WalkInstallAndFinish); Cancel on every page
// starts nothing (WineUiEarlyEnd); abort answered Yes on a fresh destination
// (AbortYesRollsBackAndInstallRunsAgain); a carrier without markers, error [13]
// (MissingArchiveIsRefusedAndRolledBack); a file named "backup", error [7]; the program
// manager absent, error [15]; the real program manager's links per shell.
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <set>
#include <sstream>

#include "harness.h"
#include "pack/archive.h"

namespace winetest {
namespace {

const char WIZARD_TITLE[] = "Vexa v5.61 32bit Installation";
const char FOLDER_TITLE[] = "Vexa Select Folder";
const char RUN_OVERRIDES[] = "winemenubuilder.exe=d;mscoree=;mshtml=;winhlp32.exe=n";
const int INSTALL_TIMEOUT_MS = 120000;
const int PAGE_TIMEOUT_MS = 15000;
// Far above what the demo payload's run writes (some 100 KB), far below a runaway decode.
const long long MOST_BYTES_WRITTEN = 64ll << 20;

const char* const PAYLOAD_NAMES[11] = {"vexa32.exe", "vxtool32.exe", "vexa.hlp", "primer.hlp",
                                       "about.txt",  "history.txt",  "vexa.ini", "macros.ini",
                                       "menus.ini",  "sites.ini",    "links.ini"};

// Attributes as Wine reports them.
const unsigned READ_ONLY = 0x01, HIDDEN = 0x02, SYSTEM = 0x04;

// An earlier installation: what each file is given besides its earlier content. The two
// help caches belong to it too.
const std::pair<const char*, unsigned> EARLIER_ATTRIBUTES[] = {
    {"vexa32.exe", READ_ONLY},
    {"vxtool32.exe", HIDDEN},
    {"vexa.hlp", READ_ONLY | SYSTEM},
    {"history.txt", READ_ONLY | HIDDEN},
    {"vexa.ini", READ_ONLY | HIDDEN | SYSTEM},
    {"sites.ini", READ_ONLY},
    {"vexa.gid", READ_ONLY},
};
const char* const HELP_CACHES[2] = {"vexa.gid", "primer.gid"};

// The prefix's system folder, the only place the installer takes the 3D-controls library from.
fs::path SystemFolder(const Session& s) { return s.DriveC() / "windows" / "system32"; }

// The pages, each known by a text that shows on it alone.
enum Page { WELCOME = 0, LICENCE = 1, OPTIONS = 2, FINISH = 4 };
const std::map<int, std::pair<int, const char*>> PAGE_MARK = {
    {WELCOME, {133, "To continue, please click the Next button."}},
    {LICENCE,
     {142,
      "Do you accept the terms of this license agreement? If you do, please click the Yes button, "
      "otherwise click No."}},
    {OPTIONS,
     {159,
      "Once you're ready to install Vexa, click the Install button to continue, or click Cancel "
      "to exit."}},
    {FINISH, {185, "To end the installation, please click the Finish button."}},
};

// ---- The rows ----

enum class Earlier {
  NONE,       // the destination does not exist
  FILES,      // an earlier version of every file, with attributes and help caches
  INSTALLED,  // installed by the installer itself, then edited into an earlier version
};

enum class Carrier {
  SHIPPED,
  SIZE_FIELD_HUGE,      // the size field of segment `row` claims 0xFFFFFFF0 bytes
  PADDING_BIT,          // one filling bit of segment `row`'s last byte flipped
  NO_SEGMENT_ZERO_SUM,  // no marker left and the built-in sum patched to 0 (a changed program)
  SIGNED,               // signed afterwards with osslsigncode
  SIGNED_JUNK,          // signed, then the signature's bytes replaced by marker-laden junk
};

enum class Obstacle {
  NONE,
  HOLD_OPEN,           // another process holds `held` open without sharing
  DANGLING_BACKUP,     // "backup" in the destination is a symbolic link to nowhere
  NO_TEMP_FOLDER,      // TEMP and TMP name a folder that does not exist
  LONG_TEMP_FOLDER,    // TEMP and TMP name a folder too long to be used: c:\vexa.tmp serves
  REFUSE_HELP_ITEM,    // the program manager refuses the AddItem of "Vexa Help"
  ABORT_AFTER_BACKUP,  // Abort once the second earlier file has gone to "backup"
};

enum class Ctl3d {
  BUILTIN,          // Wine's own stub
  ABSENT,           // disabled: loading it fails
  STANDIN,          // ours, logging its calls
  STANDIN_NO_AUTO,  // ours, without Ctl3dAutoSubclass
};

enum class End { FINISH_PAGE, OPTIONS_PAGE, WIZARD_ENDS };

enum class Disk {
  INSTALLED,    // the new version, settings kept as asked, earlier files in "backup"
  ROLLED_BACK,  // as before, but for "backup", cleared attributes and `lost`
  UNTOUCHED,    // nothing written anywhere
};

struct Box {
  const char* caption;
  const char* text;
  std::vector<int> buttons;
  int answer;
};

struct Scenario {
  std::string name;
  std::string typed;                     // typed into the folder dialog; empty: no browsing
  std::string destination = "c:\\vexa";  // the folder control 152 then shows
  Earlier earlier = Earlier::NONE;
  Carrier carrier = Carrier::SHIPPED;
  int row = 0;
  Obstacle obstacle = Obstacle::NONE;
  const char* held = "";
  const char* version = nullptr;  // Wine's per-program version; null: its default (win7)
  Ctl3d ctl3d = Ctl3d::BUILTIN;
  bool backups = true, keepSettings = true, icons = true;
  std::vector<Box> boxes;
  End end = End::FINISH_PAGE;
  int exitCode = 0;
  Disk disk = Disk::INSTALLED;
  std::set<std::string> lost;  // earlier files overwritten with backups off, then rolled back
};

void PrintTo(const Scenario& s, std::ostream* out) { *out << s.name; }

const char TEXT_FOLDER[] =
    "There seems to be a problem creating the directory you specified.\n\nPlease try using a "
    "different directory name!";
const char TEXT_COPY[] =
    "There seems to be a problem copying files to their destination.\n\nPlease try running the "
    "installation program again!";
const char TEXT_BACKUP_FOLDER[] =
    "There seems to be a problem creating the backup directory.\n\nPlease try installing to a "
    "different directory!";
const char TEXT_BACKUP_MOVE[] =
    "There seems to be a problem backing up your original files.\n\nPlease try installing to a "
    "different directory!";
const char TEXT_EXTRACT[] =
    "There seems to be a problem extracting files from the installation file.\n\nPlease try "
    "running the installation program again!";
const char TEXT_CORRUPT[] =
    "The installation file seems to be corrupt!\n\nPlease try running the installation program "
    "again or download a new version!";
const char TEXT_ICONS[] =
    "There seems to be a problem adding Vexa icons to the Program Manager!\n\nDo you want me to "
    "try again?";
const char TEXT_ABORT[] = "Are you sure you want to abort the installation?";

const std::vector<int> OK = {1};
const std::vector<int> YES_NO = {6, 7};

// A 299-character destination: an existing parent of 249 characters and one new level.
std::string LongParent() {
  return "c:\\deep\\" + std::string(120, 'd') + "\\" + std::string(120, 'e');
}
std::string LongDestination() {
  return LongParent() + "\\" + std::string(299 - LongParent().size() - 1, 'v');
}

Scenario Named(const std::string& name) {
  Scenario s;
  s.name = name;
  return s;
}

std::vector<Scenario> Failures() {
  std::vector<Scenario> rows;
  Scenario s;

  s = Named("error_1_destination_of_299_characters");
  s.typed = s.destination = LongDestination();
  s.boxes = {{"Vexa Installation Error [1]", TEXT_FOLDER, OK, 1}};
  s.end = End::OPTIONS_PAGE;
  s.disk = Disk::UNTOUCHED;
  rows.push_back(s);

  // The folder dialog hands back no more than the buffer holds.
  s = Named("error_1_typed_folder_longer_than_the_buffer");
  s.typed = LongDestination() + "\\twenty-one-more-chars";
  s.destination = LongDestination();
  s.boxes = {{"Vexa Installation Error [1]", TEXT_FOLDER, OK, 1}};
  s.end = End::OPTIONS_PAGE;
  s.disk = Disk::UNTOUCHED;
  rows.push_back(s);

  s = Named("error_4_target_held_open_backups_off");
  s.earlier = Earlier::FILES;
  s.obstacle = Obstacle::HOLD_OPEN;
  s.held = "vexa32.exe";
  s.backups = false;
  s.boxes = {{"Vexa Installation Error [4]", TEXT_COPY, OK, 1}};
  s.end = End::WIZARD_ENDS;
  s.disk = Disk::ROLLED_BACK;
  rows.push_back(s);

  s = Named("error_7_held_file_cannot_be_moved");
  s.earlier = Earlier::FILES;
  s.obstacle = Obstacle::HOLD_OPEN;
  s.held = "history.txt";
  s.boxes = {{"Vexa Installation Error [7]", TEXT_BACKUP_MOVE, OK, 1}};
  s.end = End::OPTIONS_PAGE;
  s.disk = Disk::ROLLED_BACK;
  rows.push_back(s);

  s = Named("error_5_size_field_damaged_over_earlier");
  s.earlier = Earlier::FILES;
  s.carrier = Carrier::SIZE_FIELD_HUGE;
  s.row = 4;
  s.keepSettings = false;
  s.boxes = {{"Vexa Installation Error [5]", TEXT_COPY, OK, 1}};
  s.end = End::WIZARD_ENDS;
  s.disk = Disk::ROLLED_BACK;
  rows.push_back(s);

  s = Named("error_5_size_field_damaged_backups_off");
  s.earlier = Earlier::FILES;
  s.carrier = Carrier::SIZE_FIELD_HUGE;
  s.row = 3;
  s.backups = false;
  s.boxes = {{"Vexa Installation Error [5]", TEXT_COPY, OK, 1}};
  s.end = End::WIZARD_ENDS;
  s.disk = Disk::ROLLED_BACK;
  s.lost = {"vexa32.exe", "vxtool32.exe", "vexa.hlp", "primer.hlp"};
  rows.push_back(s);

  s = Named("error_5_size_field_damaged_fresh");
  s.carrier = Carrier::SIZE_FIELD_HUGE;
  s.row = 0;
  s.boxes = {{"Vexa Installation Error [5]", TEXT_COPY, OK, 1}};
  s.end = End::WIZARD_ENDS;
  s.disk = Disk::ROLLED_BACK;
  rows.push_back(s);

  s = Named("error_6_backup_folder_cannot_be_created");
  s.earlier = Earlier::FILES;
  s.obstacle = Obstacle::DANGLING_BACKUP;
  s.boxes = {{"Vexa Installation Error [6]", TEXT_BACKUP_FOLDER, OK, 1}};
  s.end = End::OPTIONS_PAGE;
  s.disk = Disk::ROLLED_BACK;
  rows.push_back(s);

  s = Named("error_11_temporary_folder_missing");
  s.obstacle = Obstacle::NO_TEMP_FOLDER;
  s.boxes = {{"Vexa Installation Error [11]", TEXT_EXTRACT, OK, 1}};
  s.end = End::WIZARD_ENDS;
  s.disk = Disk::ROLLED_BACK;
  rows.push_back(s);

  s = Named("error_13_padding_bit_flipped_over_earlier");
  s.earlier = Earlier::FILES;
  s.carrier = Carrier::PADDING_BIT;
  s.row = 10;
  s.boxes = {{"Vexa Installation Error [13]", TEXT_CORRUPT, OK, 1}};
  s.end = End::WIZARD_ENDS;
  s.disk = Disk::ROLLED_BACK;
  rows.push_back(s);

  s = Named("error_13_padding_bit_flipped_fresh");
  s.carrier = Carrier::PADDING_BIT;
  s.row = 5;
  s.backups = false;
  s.boxes = {{"Vexa Installation Error [13]", TEXT_CORRUPT, OK, 1}};
  s.end = End::WIZARD_ENDS;
  s.disk = Disk::ROLLED_BACK;
  rows.push_back(s);

  // Unreachable with a real carrier: with no segment handled the sum is 0, and the built-in
  // sum of a real archive is not. The program is patched to expect 0 to reach the wizard's
  // handling at all.
  s = Named("error_14_no_segment_with_patched_sum");
  s.carrier = Carrier::NO_SEGMENT_ZERO_SUM;
  s.boxes = {{"Vexa Installation Error [14]", TEXT_CORRUPT, OK, 1}};
  s.end = End::WIZARD_ENDS;
  s.disk = Disk::ROLLED_BACK;
  rows.push_back(s);

  s = Named("abort_yes_over_earlier_installation");
  s.earlier = Earlier::FILES;
  s.obstacle = Obstacle::ABORT_AFTER_BACKUP;
  s.boxes = {{"Vexa Installation Warning", TEXT_ABORT, YES_NO, 6}};
  s.end = End::OPTIONS_PAGE;
  s.disk = Disk::ROLLED_BACK;
  rows.push_back(s);
  return rows;
}

std::vector<Scenario> Installs() {
  std::vector<Scenario> rows;
  Scenario s;

  s = Named("all_options_on_fresh");
  rows.push_back(s);

  // Read-only targets are replaced, the help caches go, no backup and no group.
  s = Named("all_options_off_over_earlier");
  s.earlier = Earlier::FILES;
  s.backups = s.keepSettings = s.icons = false;
  rows.push_back(s);

  s = Named("installed_twice_backups_and_kept_settings");
  s.earlier = Earlier::INSTALLED;
  rows.push_back(s);

  // A folder named like a settings file makes no other file one.
  s = Named("settings_rule_ignores_the_folder_name");
  s.earlier = Earlier::FILES;
  s.typed = "C:\\Old.ini\\Vexa";
  s.destination = "c:\\old.ini\\vexa";
  rows.push_back(s);

  s = Named("temporary_folder_too_long_uses_the_fallback");
  s.obstacle = Obstacle::LONG_TEMP_FOLDER;
  rows.push_back(s);

  s = Named("error_15_refused_item_yes_then_no");
  s.obstacle = Obstacle::REFUSE_HELP_ITEM;
  s.boxes = {{"Vexa Installation Error [15]", TEXT_ICONS, YES_NO, 6},
             {"Vexa Installation Error [15]", TEXT_ICONS, YES_NO, 7}};
  rows.push_back(s);
  return rows;
}

std::vector<Scenario> Versions() {
  std::vector<Scenario> rows;
  for (const char* version : {"win95", "win98", "winme", "nt40", "win2k", "winxp", "win7"}) {
    Scenario s = Named(std::string(version) + "_program_manager_and_ctl3d");
    s.version = version;
    s.ctl3d = Ctl3d::STANDIN;
    rows.push_back(s);
  }
  Scenario s = Named("win2k_ctl3d_absent");
  s.version = "win2k";
  s.ctl3d = Ctl3d::ABSENT;
  rows.push_back(s);
  s = Named("winxp_ctl3d_builtin");
  s.version = "winxp";
  s.ctl3d = Ctl3d::BUILTIN;
  rows.push_back(s);
  s = Named("win2k_ctl3d_without_autosubclass");
  s.version = "win2k";
  s.ctl3d = Ctl3d::STANDIN_NO_AUTO;
  rows.push_back(s);
  s = Named("win98_ctl3d_without_autosubclass");
  s.version = "win98";
  s.ctl3d = Ctl3d::STANDIN_NO_AUTO;
  rows.push_back(s);
  return rows;
}

std::vector<Scenario> Carriers() {
  std::vector<Scenario> rows;
  Scenario s = Named("signed_carrier");
  s.carrier = Carrier::SIGNED;
  rows.push_back(s);
  s = Named("signed_carrier_with_junk_signature");
  s.carrier = Carrier::SIGNED_JUNK;
  s.earlier = Earlier::FILES;
  rows.push_back(s);
  return rows;
}

// ---- Files and listings ----

void WriteFile(const fs::path& file, const std::string& bytes) {
  std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
}

// The probe's hash.
std::string Fnv(const std::string& bytes) {
  unsigned long long hash = 0xcbf29ce484222325ull;
  for (unsigned char c : bytes) hash = (hash ^ c) * 0x100000001b3ull;
  char text[20];
  snprintf(text, sizeof text, "%016llx", hash);
  return text;
}

bool IsSettingsFile(const std::string& name) { return name.find(".ini") != std::string::npos; }

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return (char)tolower(c); });
  return text;
}

struct Entry {
  unsigned attributes = 0;
  std::string size;  // "-" for folders
  std::string hash;
};

// A folder as Wine reports it, by path relative to the folder ("backup\" for a folder).
struct Listing {
  bool absent = false;
  std::map<std::string, Entry> entries;
};

std::string Describe(const Listing& l) {
  if (l.absent) return "(absent)\n";
  std::string out;
  for (const auto& [path, e] : l.entries) {
    char line[64];
    snprintf(line, sizeof line, "  %08x %8s ", e.attributes, e.size.c_str());
    out += line + path + " " + e.hash + "\n";
  }
  return out.empty() ? "(empty)\n" : out;
}

bool AttributesCleared(unsigned attributes) {
  return (attributes & (READ_ONLY | HIDDEN | SYSTEM)) == 0;
}

std::string TestName() {
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string(info->test_suite_name()) + "." + info->name();
  std::replace(name.begin(), name.end(), '/', '-');
  return name;
}

// What osslsigncode and openssl say, for failure messages.
std::string Tail(const fs::path& log) {
  std::string text = ReadFile(log);
  return text.size() > 2000 ? text.substr(text.size() - 2000) : text;
}

uint32_t Le32(const std::string& b, size_t at) {
  return (uint32_t)(uint8_t)b[at] | (uint32_t)(uint8_t)b[at + 1] << 8 |
         (uint32_t)(uint8_t)b[at + 2] << 16 | (uint32_t)(uint8_t)b[at + 3] << 24;
}

vexa::ScanReport Scan(const std::string& image, bool keepOutputs = false) {
  return vexa::ScanArchive(std::span<const uint8_t>((const uint8_t*)image.data(), image.size()),
                           keepOutputs);
}

// ---- The fixture ----

class WineAcceptance : public ::testing::TestWithParam<Scenario> {
 protected:
  void SetUp() override {
    session_ = std::make_unique<Session>(
        Session::Options{TestName(), false, [this](Session& session) { BeforeWine(session); }});
    shots_ = S().Paths().screenshots / "tests" / TestName();
    fs::remove_all(shots_);
  }

  void TearDown() override {
    if (session_ && HasFailure()) {
      session_->KeepFolder();
      session_->Shot(session_->Paths().screenshots / "failures" / (TestName() + "-end.png"));
    }
    if (session_) {
      Release(locker_);
      Release(progman_);
    }
    session_.reset();
  }

  Session& S() { return *session_; }
  const Scenario& Row() { return GetParam(); }
  fs::path Work() { return S().PrefixDir().parent_path(); }
  fs::path DestinationDir() { return UnixPath(S(), Row().destination); }

  // Where a path below c:\ lies in the prefix.
  static fs::path UnixPath(Session& s, const std::string& windowsPath) {
    fs::path path = s.DriveC();
    std::istringstream parts(Lower(windowsPath).substr(3));
    std::string part;
    while (std::getline(parts, part, '\\')) path /= part;
    return path;
  }
  fs::path Payload() { return S().Paths().windows / "payload"; }

  // The earlier version of a payload file: its bytes and a line more, so a program still runs.
  static std::string EarlierContent(Session& s, const std::string& name) {
    return ReadFile(s.Paths().windows / "payload" / name) + "\r\nearlier version of " + name +
           "\r\n";
  }

  // Changes to the prefix copy before any Wine process runs in it.
  void BeforeWine(Session& s) {
    const Scenario& row = GetParam();
    std::string reg;
    if (row.version != nullptr) {
      reg += "\n[Software\\\\Wine\\\\AppDefaults\\\\vexa-setup.exe] 1700000000\n\"Version\"=\"" +
             std::string(row.version) + "\"\n";
    }
    if (row.ctl3d != Ctl3d::BUILTIN) {
      reg +=
          "\n[Software\\\\Wine\\\\AppDefaults\\\\vexa-setup.exe\\\\DllOverrides] 1700000000\n"
          "\"ctl3d32\"=\"" +
          std::string(row.ctl3d == Ctl3d::ABSENT ? "" : "native") + "\"\n";
      // Also for the disabled case: our library lies there but must not be loaded. A copy
      // planted beside the installer, as in a downloads folder, must never be loaded.
      std::string variant = row.ctl3d == Ctl3d::STANDIN_NO_AUTO ? "no_autosubclass" : "full";
      fs::path library = s.Paths().windows / "ctl3d" / variant / "Ctl3d32.dll";
      fs::copy_file(library, SystemFolder(s) / "Ctl3d32.dll", fs::copy_options::overwrite_existing);
      fs::copy_file(library, s.DriveC() / "Ctl3d32.dll");
    }
    if (row.obstacle == Obstacle::NO_TEMP_FOLDER || row.obstacle == Obstacle::LONG_TEMP_FOLDER) {
      std::string folder = row.obstacle == Obstacle::NO_TEMP_FOLDER
                               ? "c:\\\\missing-temp"
                               : "c:\\\\" + std::string(310, 't');
      reg +=
          "\n[Environment] 1700000000\n\"TEMP\"=\"" + folder + "\"\n\"TMP\"=\"" + folder + "\"\n";
    }
    if (!reg.empty()) std::ofstream(s.PrefixDir() / "user.reg", std::ios::app) << reg;

    fs::path destination = UnixPath(s, row.destination);
    // A typed folder is one new level below an existing one.
    if (!row.typed.empty()) fs::create_directories(destination.parent_path());
    if (row.earlier == Earlier::FILES) {
      fs::create_directories(destination);
      for (const char* name : PAYLOAD_NAMES) WriteFile(destination / name, EarlierContent(s, name));
    }
    if (row.obstacle == Obstacle::DANGLING_BACKUP) {
      fs::create_directory_symlink("/nonexistent/vexa-backup-target", destination / "backup");
    }
  }

  // ---- Windows programs of ours in the prefix ----

  Child StartInPrefix(const std::vector<std::string>& args) {
    SpawnOptions o;
    o.argv = {"wine"};
    o.argv.insert(o.argv.end(), args.begin(), args.end());
    o.env = {"WINEPREFIX=" + S().PrefixDir().string(), "WINEARCH=win32", "WINEDEBUG=-all",
             std::string("WINEDLLOVERRIDES=") + RUN_OVERRIDES, "DISPLAY=" + S().Display()};
    o.cwd = S().DriveC();
    o.log = Work() / "helpers.log";
    o.pipes = true;
    return Spawn(o);
  }

  // Reads one line of the child's output; a hang fails the session.
  std::string LineFrom(Child& child, int timeoutMs, const std::string& what) {
    std::string line;
    auto start = std::chrono::steady_clock::now();
    for (;;) {
      int left = timeoutMs - (int)std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now() - start)
                                 .count();
      if (left <= 0) S().Fail(what + " gave no answer within " + std::to_string(timeoutMs) + " ms");
      pollfd p = {child.output, POLLIN, 0};
      if (poll(&p, 1, left) <= 0) continue;
      char c;
      ssize_t n = read(child.output, &c, 1);
      if (n <= 0) S().Fail(what + " ended early (see " + (Work() / "helpers.log").string() + ")");
      if (c == '\n') return line;
      if (c != '\r') line += c;
    }
  }

  std::string Probe(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {(S().Paths().windows / "probe.exe").string()};
    argv.insert(argv.end(), args.begin(), args.end());
    Child child = StartInPrefix(argv);
    close(child.input);
    child.input = -1;
    std::string out;
    auto start = std::chrono::steady_clock::now();
    for (;;) {
      pollfd p = {child.output, POLLIN, 0};
      if (poll(&p, 1, 1000) > 0) {
        char buffer[65536];
        ssize_t n = read(child.output, buffer, sizeof buffer);
        if (n <= 0) break;
        out.append(buffer, n);
      }
      if (std::chrono::steady_clock::now() - start > std::chrono::seconds(60)) {
        Stop(child, 500);
        S().Fail("probe " + args[0] + " did not end");
      }
    }
    if (!WaitFor(child, 30000)) Stop(child, 500);
    out.erase(std::remove(out.begin(), out.end(), '\r'), out.end());
    return out;
  }

  Listing List(const std::string& folder) {
    std::string out = Probe({"list", folder});
    Listing listing;
    if (out == "absent\n") {
      listing.absent = true;
      return listing;
    }
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
      std::vector<std::string> f = SplitTabs(line);
      if (f.size() != 4) S().Fail("malformed listing line: " + line);
      listing.entries[f[0]] = Entry{(unsigned)strtoul(f[1].c_str(), nullptr, 16), f[2], f[3]};
    }
    return listing;
  }

  void Release(Child& child) {
    if (child.pid <= 0) return;
    if (child.input >= 0) close(child.input);
    child.input = -1;
    if (!WaitFor(child, 10000)) Stop(child, 500);
    if (child.output >= 0) close(child.output);
    child = Child();
  }

  void StartProgramManager() {
    // Wine's desktop serves the service through three windows; with them closed, ours is
    // the only one that answers.
    S().Must({"closeclass", "WineDdeServerName", "3", "20000"}, 40000);
    std::vector<std::string> args = {(S().Paths().windows / "progman.exe").string(),
                                     "c:\\progman.log"};
    if (Row().obstacle == Obstacle::REFUSE_HELP_ITEM) args.push_back("Vexa.hlp");
    progman_ = StartInPrefix(args);
    std::string ready = LineFrom(progman_, 60000, "the program manager stand-in");
    if (ready != "ready") S().Fail("the program manager stand-in said: " + ready);
  }

  void LockFile(const std::string& path) {
    locker_ = StartInPrefix({(S().Paths().windows / "probe.exe").string(), "lock", path});
    std::string said = LineFrom(locker_, 60000, "the file holder");
    if (said != "locked") S().Fail("the file holder could not open " + path + ": " + said);
  }

  // ---- The carrier ----

  std::string ShippedImage() { return ReadFile(S().Paths().windows / "vexa-setup.exe"); }

  std::string CarrierImage() {
    const Scenario& row = Row();
    std::string image = ShippedImage();
    vexa::ScanReport report = Scan(image, true);
    EXPECT_TRUE(report.problems.empty()) << "the shipped carrier scans cleanly";
    if (report.segments.size() != 11) {
      ADD_FAILURE() << "the shipped carrier has " << report.segments.size() << " segments";
      return image;
    }
    const vexa::ScannedSegment& segment = report.segments[row.row];
    switch (row.carrier) {
      case Carrier::SHIPPED:
        break;
      case Carrier::SIZE_FIELD_HUGE:
        for (int k = 0; k < 4; k++) image[segment.offset + k] = (char)(k == 0 ? 0xF0 : 0xFF);
        break;
      case Carrier::PADDING_BIT: {
        // The flip must leave every file as it was: only the sum can tell. A stream that
        // ends on a byte boundary has no filling bit, so the row's nearest neighbour with
        // one (looking towards row 0) takes its place.
        std::string original = image;
        vexa::ScanReport flipped;
        for (int r = row.row; r >= 0; r--) {
          const vexa::ScannedSegment& s = report.segments[r];
          image = original;
          image[s.offset + s.bodyLength - 1] ^= 0x01;
          flipped = Scan(image, true);
          if (flipped.problems.empty() && flipped.segments.size() == 11 &&
              flipped.segments[r].output == report.segments[r].output) {
            break;
          }
        }
        EXPECT_TRUE(flipped.problems.empty()) << "the flipped carrier still scans cleanly";
        EXPECT_EQ(flipped.segments.size(), 11u);
        for (size_t r = 0; r < flipped.segments.size() && r < 11; r++) {
          EXPECT_TRUE(flipped.segments[r].output == report.segments[r].output)
              << "segment " << r << " decodes as before";
        }
        EXPECT_NE(flipped.sum, report.sum) << "the sum sees the flip";
        break;
      }
      case Carrier::NO_SEGMENT_ZERO_SUM: {
        const vexa::ScannedSegment& last = report.segments.back();
        size_t archiveStart = report.firstMarker, archiveEnd = last.offset + last.bodyLength + 4;
        std::string sum(4, '\0');
        for (int k = 0; k < 4; k++) sum[k] = (char)(report.sum >> (8 * k));
        std::vector<size_t> places;
        for (size_t at = image.find(sum); at != std::string::npos; at = image.find(sum, at + 1)) {
          if (at + 4 <= archiveStart || at >= archiveEnd) places.push_back(at);
        }
        EXPECT_EQ(places.size(), 1u) << "the built-in sum occurs once outside the archive";
        for (size_t at : places) image.replace(at, 4, 4, '\0');
        for (size_t at = image.find("ARNI"); at != std::string::npos; at = image.find("ARNI", at))
          image[at] = 'X';
        break;
      }
      case Carrier::SIGNED:
      case Carrier::SIGNED_JUNK:
        image = Signed(image, row.carrier == Carrier::SIGNED_JUNK);
        break;
    }
    return image;
  }

  // A copy signed with a certificate made here; with junk, the signature's bytes are then
  // replaced by bytes full of markers, which the installer must never take in.
  std::string Signed(const std::string& image, bool junk) {
    fs::path dir = Work() / "signing";
    fs::create_directories(dir);
    WriteFile(dir / "unsigned.exe", image);
    fs::path log = dir / "signing.log";
    SpawnOptions o;
    o.cwd = dir;
    o.log = log;
    o.argv = {
        "openssl", "req",  "-x509",    "-newkey", "rsa:2048", "-nodes", "-keyout",
        "key.pem", "-out", "cert.pem", "-days",   "2",        "-subj",  "/CN=Vexa test signer"};
    if (RunToEnd(o, 120000) != 0) S().Fail("openssl could not make a certificate:\n" + Tail(log));
    o.argv = {"osslsigncode", "sign", "-certs", "cert.pem",     "-key", "key.pem",
              "-n",           "Vexa", "-in",    "unsigned.exe", "-out", "signed.exe"};
    if (RunToEnd(o, 120000) != 0) S().Fail("osslsigncode sign failed:\n" + Tail(log));
    o.argv = {"osslsigncode", "verify", "-CAfile", "cert.pem", "-in", "signed.exe"};
    EXPECT_EQ(RunToEnd(o, 120000), 0) << "the signed copy verifies:\n" << Tail(log);

    std::string signedImage = ReadFile(dir / "signed.exe");
    // The certificate table: its file offset and size, data directory 4 of a PE32 image.
    size_t optional = Le32(signedImage, 0x3C) + 24;
    size_t table = Le32(signedImage, optional + 128), tableSize = Le32(signedImage, optional + 132);
    EXPECT_GE(table, image.size()) << "the signature follows the original image";
    EXPECT_GT(tableSize, 8u);
    EXPECT_EQ(table + tableSize, signedImage.size());
    vexa::ScanReport before = Scan(image), after = Scan(signedImage);
    EXPECT_EQ(after.firstMarker, before.firstMarker) << "signing leaves the archive in place";
    EXPECT_EQ(after.sum, before.sum);
    if (junk && table + tableSize == signedImage.size() && tableSize > 8) {
      const char pattern[] = "ARNI\x01\x02\x03ARNARNIAA";
      for (size_t at = table + 8; at < signedImage.size(); at++)
        signedImage[at] = pattern[(at - table) % (sizeof pattern - 1)];
      WriteFile(dir / "junk.exe", signedImage);
      o.argv = {"osslsigncode", "verify", "-CAfile", "cert.pem", "-in", "junk.exe"};
      EXPECT_NE(RunToEnd(o, 120000), 0) << "the junk signature no longer verifies";
    }
    return signedImage;
  }

  // ---- The earlier installation ----

  // The first installation, made by the installer itself with every default but the group;
  // then every file is edited into an earlier version of itself.
  void InstallFirstTime() {
    S().StartInstaller();
    WalkToOptions();
    Toggle(158);
    Press(1);
    WaitPage(FINISH, INSTALL_TIMEOUT_MS);
    Toggle(183);
    Toggle(184);
    Press(2);
    ASSERT_EQ(S().WaitInstallerExit(30000), 0);
    for (const char* name : PAYLOAD_NAMES) {
      ASSERT_EQ(ReadFile(DestinationDir() / name), ReadFile(Payload() / name));
      std::ofstream(DestinationDir() / name, std::ios::binary | std::ios::app)
          << "\r\nearlier version of " << name << "\r\n";
    }
  }

  void GiveEarlierAttributes() {
    for (const char* cache : HELP_CACHES)
      WriteFile(DestinationDir() / cache, std::string("help cache ") + cache);
    for (const auto& [name, attributes] : EARLIER_ATTRIBUTES) {
      char hex[16];
      snprintf(hex, sizeof hex, "%x", attributes);
      std::string result = Probe({"attrib", hex, Row().destination + "\\" + name});
      ASSERT_EQ(result, "") << name;
    }
  }

  // ---- The wizard ----

  void WaitPage(int page, int timeoutMs = PAGE_TIMEOUT_MS) {
    const auto& [id, text] = PAGE_MARK.at(page);
    S().WaitText(id, text, timeoutMs);
    S().Must({"sync", "wizard"});
  }
  void Press(int id) { S().Click(id); }
  void Toggle(int id) { S().Must({"toggle", std::to_string(id)}); }

  void WalkToOptions() {
    S().WaitWizard();
    WaitPage(WELCOME);
    Press(1);
    WaitPage(LICENCE);
    Press(1);
    WaitPage(OPTIONS);
  }

  // Browse, type into the folder field, OK: control 152 shows the row's destination.
  void TypeDestination() {
    Press(153);
    S().WaitBox(FOLDER_TITLE);
    S().Must({"settext", "102", Escape(Row().typed), "folder"});
    S().Click(1, "folder");
    S().WaitGone("folder", PAGE_TIMEOUT_MS);
    EXPECT_EQ(S().ControlText(152), Row().destination) << "the folder handed back";
  }

  // Presses Install, or, for the abort row, Install with an abort pressed once the second
  // earlier file has reached "backup".
  void StartInstallation() {
    Press(1);
    if (Row().obstacle == Obstacle::LONG_TEMP_FOLDER) {
      // The segments pass through the fallback file while the run lasts.
      S().Must({"holdfile", "c:\\\\vexa.tmp", std::to_string(INSTALL_TIMEOUT_MS), "wizard", "2",
                "&Finish"},
               INSTALL_TIMEOUT_MS + 20000);
      S().Must({"release"});
    }
    if (Row().obstacle != Obstacle::ABORT_AFTER_BACKUP) return;
    S().Must({"holdfile", "c:\\\\vexa\\\\backup\\\\vxtool32.exe",
              std::to_string(INSTALL_TIMEOUT_MS), "wizard", "2", "&Finish"},
             INSTALL_TIMEOUT_MS + 20000);
    S().Must({"command", "2"});
    S().Must({"release"});
  }

  // The unix process of the installer, for what it has written so far.
  long long InstallerBytesWritten() {
    std::string prefixVar = "WINEPREFIX=" + S().PrefixDir().string();
    for (const auto& proc : fs::directory_iterator("/proc")) {
      std::string pid = proc.path().filename().string();
      if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
      std::string environ = ReadFile(proc.path() / "environ");
      std::string cmdline = ReadFile(proc.path() / "cmdline");
      if (environ.find(prefixVar + '\0') == std::string::npos && !environ.ends_with(prefixVar))
        continue;
      if (Lower(cmdline).find("vexa-setup.exe") == std::string::npos) continue;
      std::string io = ReadFile(proc.path() / "io");
      size_t at = io.find("wchar: ");
      if (at != std::string::npos) return atoll(io.c_str() + at + 7);
    }
    return -1;
  }

  // ---- Expectations ----

  // Windows 95, 98 and Me and NT 4.0 report major version 4: the new shell.
  bool NewShell() {
    std::string version = Row().version != nullptr ? Row().version : "win7";
    return version == "win95" || version == "win98" || version == "winme" || version == "nt40";
  }

  // The execute commands the program manager should have seen, in order, as its log has
  // them: the bytes with backslashes doubled, the terminating zero sent too.
  std::vector<std::string> ExpectedProgmanCommands() {
    const Scenario& row = Row();
    std::vector<std::string> commands = {
        R"([CreateGroup("Vexa")])",
        R"([ShowGroup("Vexa",1)])",
        R"([ReplaceItem("Vexa32")])",
        R"([AddItem("%s\Vexa32.exe","Vexa32",,0,,,"%s")])",
        R"([ReplaceItem("Vexa Help")])",
        R"([AddItem("%s\Vexa.hlp","Vexa Help",,0,,,"%s")])",
        R"([ReplaceItem("Quick Primer")])",
        R"([AddItem("%s\Primer.hlp","Quick Primer",,0,,,"%s")])",
        R"([ReplaceItem("About.txt")])",
        NewShell() ? R"([AddItem("%s\about.txt","About.txt",,,,,"%s")])"
                   : R"([AddItem("%s\about.txt","About.txt","write.exe",0,,,"%s")])",
        R"([ReplaceItem("History.txt")])",
        NewShell() ? R"([AddItem("%s\history.txt","History.txt",,,,,"%s")])"
                   : R"([AddItem("%s\history.txt","History.txt","write.exe",0,,,"%s")])",
    };
    for (std::string& command : commands) {
      for (size_t at = command.find("%s"); at != std::string::npos; at = command.find("%s", at))
        command.replace(at, 2, row.destination);
    }
    std::vector<std::string> log;
    if (!row.icons || row.end != End::FINISH_PAGE) return log;
    int attempts = row.obstacle == Obstacle::REFUSE_HELP_ITEM ? 2 : 1;
    for (int attempt = 0; attempt < attempts; attempt++) {
      for (const std::string& command : commands) {
        bool refuse = row.obstacle == Obstacle::REFUSE_HELP_ITEM &&
                      command.find("Vexa.hlp") != std::string::npos;
        std::string escaped;
        for (char c : command) escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
        log.push_back("execute " + std::to_string(command.size() + 1) + " " + escaped + "\\x00" +
                      (refuse ? " refused" : " accepted"));
        if (refuse) break;
      }
    }
    return log;
  }

  std::vector<std::string> ExpectedCtl3dLog() {
    const Scenario& row = Row();
    if (NewShell() || row.ctl3d == Ctl3d::ABSENT || row.ctl3d == Ctl3d::BUILTIN) return {};
    if (row.ctl3d == Ctl3d::STANDIN_NO_AUTO) return {"load", "free"};
    return {"load", "Ctl3dRegister instance=program wizard=0",
            "Ctl3dAutoSubclass instance=program wizard=0",
            "Ctl3dUnregister instance=program wizard=0", "free"};
  }

  std::vector<std::string> Lines(const fs::path& file) {
    std::vector<std::string> lines;
    std::istringstream in(ReadFile(file));
    std::string line;
    while (std::getline(in, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines.push_back(line);
    }
    return lines;
  }

  // The new version installed: settings files kept when asked, every earlier file that was
  // replaced in "backup" with its earlier content, nothing else.
  void ExpectInstalled(const Listing& before, const Listing& after) {
    const Scenario& row = Row();
    ASSERT_FALSE(after.absent) << "the destination exists";
    std::set<std::string> expected, moved;
    for (const char* name : PAYLOAD_NAMES) {
      expected.insert(name);
      bool existed = before.entries.count(name) > 0;
      bool kept = existed && row.keepSettings && IsSettingsFile(name);
      if (existed && !kept && row.backups) moved.insert(name);
      auto found = after.entries.find(name);
      if (found == after.entries.end()) {
        ADD_FAILURE() << name << " is missing";
        continue;
      }
      const Entry& e = found->second;
      if (kept) {
        EXPECT_EQ(e.hash, before.entries.at(name).hash) << name << " is kept byte for byte";
      } else {
        std::string payload = ReadFile(Payload() / name);
        EXPECT_EQ(e.hash, Fnv(payload)) << name << " is the new version";
        EXPECT_EQ(e.size, std::to_string(payload.size())) << name;
      }
      EXPECT_TRUE(AttributesCleared(e.attributes))
          << name << " has attributes " << std::hex << e.attributes;
    }
    if (!moved.empty()) {
      expected.insert("backup\\");
      for (const std::string& name : moved) {
        std::string copy = "backup\\" + name;
        expected.insert(copy);
        auto found = after.entries.find(copy);
        if (found == after.entries.end()) continue;
        EXPECT_EQ(found->second.hash, before.entries.at(name).hash)
            << copy << " holds the earlier version";
        EXPECT_TRUE(AttributesCleared(found->second.attributes)) << copy;
      }
    }
    std::set<std::string> present;
    for (const auto& [path, e] : after.entries) present.insert(path);
    EXPECT_EQ(present, expected) << "the destination afterwards:\n" << Describe(after);
  }

  // As before the run: every earlier file back with its content, attributes as they were
  // or cleared; new entries only in "backup", each a copy of an earlier file; files
  // overwritten with backups off may be gone.
  void ExpectRolledBack(const Listing& before, const Listing& after) {
    const Scenario& row = Row();
    if (before.absent) {
      EXPECT_TRUE(after.absent) << "the folder this run created is gone:\n" << Describe(after);
      return;
    }
    ASSERT_FALSE(after.absent) << "the earlier installation's folder is gone";
    for (const auto& [path, e] : before.entries) {
      auto found = after.entries.find(path);
      if (row.lost.count(path)) {
        EXPECT_TRUE(found == after.entries.end()) << path << ", overwritten, is rolled back";
        continue;
      }
      if (found == after.entries.end()) {
        ADD_FAILURE() << path << " is missing afterwards";
        continue;
      }
      EXPECT_EQ(found->second.hash, e.hash) << path << " has its earlier content";
      EXPECT_EQ(found->second.size, e.size) << path;
      EXPECT_TRUE(found->second.attributes == e.attributes ||
                  AttributesCleared(found->second.attributes))
          << path << ": attributes " << std::hex << e.attributes << " became "
          << found->second.attributes;
    }
    for (const auto& [path, e] : after.entries) {
      if (before.entries.count(path)) continue;
      bool inBackup = path.rfind("backup\\", 0) == 0;
      EXPECT_TRUE(inBackup && row.backups) << "new afterwards: " << path;
      if (!inBackup || path == "backup\\") continue;
      std::string name = path.substr(7);
      ASSERT_TRUE(before.entries.count(name)) << path << " copies no earlier file";
      EXPECT_EQ(e.hash, before.entries.at(name).hash) << path << " is the earlier " << name;
    }
  }

  void ExpectNoTemporaryFile() {
    std::error_code ec;
    for (const auto& entry : fs::recursive_directory_iterator(S().DriveC() / "users", ec)) {
      EXPECT_NE(entry.path().filename(), "vexa.tmp") << "left behind: " << entry.path();
    }
    EXPECT_FALSE(fs::exists(S().DriveC() / "vexa.tmp"));
    EXPECT_FALSE(fs::exists(S().DriveC() / "missing-temp"));
  }

  void ExpectOptionsAsLeft(const std::string& destination) {
    const Scenario& row = Row();
    EXPECT_EQ(S().ControlText(152), destination) << "the folder as the user left it";
    std::map<int, int> checks;
    for (const Control& c : S().Controls()) checks[c.id] = c.check;
    EXPECT_EQ(checks[156], row.backups ? 1 : 0) << "backups box as the user left it";
    EXPECT_EQ(checks[157], row.keepSettings ? 1 : 0) << "settings box as the user left it";
    EXPECT_EQ(checks[158], row.icons ? 1 : 0) << "icons box as the user left it";
  }

  std::set<std::string> Processes() {
    Reply reply = S().Must({"processes"});
    std::set<std::string> names;
    for (const std::string& row : reply.rows) names.insert(Lower(Unescape(row)));
    return names;
  }

  std::unique_ptr<Session> session_;
  fs::path shots_;
  Child locker_;
  Child progman_;
};

TEST_P(WineAcceptance, Scenario) {
  const Scenario& row = GetParam();
  std::string image = CarrierImage();
  if (HasFatalFailure()) return;

  if (row.earlier == Earlier::INSTALLED) {
    InstallFirstTime();
    if (HasFatalFailure()) return;
  }
  if (row.earlier != Earlier::NONE) GiveEarlierAttributes();
  if (HasFatalFailure()) return;
  const std::string& destination = row.destination;
  std::string parent = destination.substr(0, destination.rfind('\\'));
  Listing before = List(destination), parentBefore;
  if (row.disk == Disk::UNTOUCHED) parentBefore = List(parent);
  if (row.obstacle == Obstacle::HOLD_OPEN) LockFile(destination + "\\" + row.held);

  S().StartInstaller(image);
  WalkToOptions();
  // Wine's desktop, which serves the program manager, comes up with the first window.
  StartProgramManager();
  if (!row.backups) Toggle(156);
  if (!row.keepSettings) Toggle(157);
  if (!row.icons) Toggle(158);
  if (!row.typed.empty()) TypeDestination();
  StartInstallation();

  for (const Box& box : row.boxes) {
    Session::Box seen = S().WaitBox(box.caption, INSTALL_TIMEOUT_MS);
    EXPECT_EQ(seen.text, box.text) << box.caption;
    EXPECT_EQ(seen.buttons, box.buttons) << box.caption;
    if (std::string(box.caption).find("[15]") != std::string::npos) {
      EXPECT_EQ(seen.ownerClass, WIZARD_TITLE) << "owned by the hidden main window";
    } else {
      EXPECT_EQ(seen.ownerTitle, WIZARD_TITLE) << box.caption << " belongs to the wizard";
      EXPECT_EQ(seen.ownerClass, "#32770");
    }
    if (row.carrier == Carrier::SIZE_FIELD_HUGE) {
      long long written = InstallerBytesWritten();
      EXPECT_GE(written, 0) << "the installer's process was found";
      EXPECT_LT(written, MOST_BYTES_WRITTEN) << "bytes written before the damaged size failed";
    }
    S().Shot(shots_ / (std::string("box-") + std::to_string(&box - row.boxes.data()) + ".png"));
    S().AnswerBox(box.caption, box.answer);
  }

  switch (row.end) {
    case End::FINISH_PAGE:
      WaitPage(FINISH, INSTALL_TIMEOUT_MS);
      Toggle(183);
      Toggle(184);
      Press(2);
      break;
    case End::OPTIONS_PAGE:
      WaitPage(OPTIONS);
      ExpectOptionsAsLeft(destination);
      break;
    case End::WIZARD_ENDS:
      break;
  }
  if (row.end == End::OPTIONS_PAGE) {
    // The state the rollback left, checked while the user could still try again.
    if (row.obstacle == Obstacle::HOLD_OPEN) Release(locker_);
    Listing after = List(destination);
    if (row.disk == Disk::ROLLED_BACK) ExpectRolledBack(before, after);
    if (HasFailure())
      std::cout << "before:\n" << Describe(before) << "on the options page:\n" << Describe(after);
    Press(2);
  }
  S().WaitGone("wizard", PAGE_TIMEOUT_MS);
  EXPECT_EQ(S().WaitInstallerExit(30000), row.exitCode);
  Release(locker_);

  Listing after = List(destination);
  switch (row.disk) {
    case Disk::INSTALLED:
      ExpectInstalled(before, after);
      break;
    case Disk::ROLLED_BACK:
      ExpectRolledBack(before, after);
      break;
    case Disk::UNTOUCHED: {
      EXPECT_TRUE(after.absent) << Describe(after);
      EXPECT_EQ(Describe(List(parent)), Describe(parentBefore)) << "the parent stays as it was";
      EXPECT_FALSE(fs::exists(S().DriveC() / "vexa")) << "nothing went to the default folder";
      break;
    }
  }
  if (HasFailure()) std::cout << "before:\n" << Describe(before) << "after:\n" << Describe(after);
  ExpectNoTemporaryFile();
  if (row.obstacle == Obstacle::DANGLING_BACKUP) {
    EXPECT_TRUE(fs::is_symlink(DestinationDir() / "backup")) << "the link stays as it was";
  }

  // Nothing is started after a failure or a cancel, nor when both boxes were cleared.
  EXPECT_FALSE(fs::exists(S().DriveC() / "winhlp32.log")) << "the help viewer was asked";
  EXPECT_EQ(Processes().count("vexa32.exe"), 0u) << "the program was started";

  Release(progman_);
  // Each command in a conversation of its own; how the server interleaves one's end with
  // the next one's start is its own affair.
  std::vector<std::string> commands;
  size_t connects = 0, disconnects = 0;
  for (const std::string& line : Lines(S().DriveC() / "progman.log")) {
    if (line == "connect") {
      connects++;
    } else if (line == "disconnect") {
      disconnects++;
    } else {
      commands.push_back(line);
    }
  }
  std::vector<std::string> expected = ExpectedProgmanCommands();
  EXPECT_EQ(commands, expected) << "what the program manager was sent";
  EXPECT_EQ(connects, expected.size()) << "conversations opened";
  EXPECT_EQ(disconnects, expected.size()) << "conversations closed";
  EXPECT_EQ(Lines(SystemFolder(S()) / "ctl3d32.log"), ExpectedCtl3dLog()) << "the 3D-controls log";
  EXPECT_EQ(Lines(S().DriveC() / "ctl3d32.log"), std::vector<std::string>{})
      << "the library planted beside the installer was loaded";
}

std::string NameOf(const ::testing::TestParamInfo<Scenario>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(Failures, WineAcceptance, ::testing::ValuesIn(Failures()), NameOf);
INSTANTIATE_TEST_SUITE_P(Installs, WineAcceptance, ::testing::ValuesIn(Installs()), NameOf);
INSTANTIATE_TEST_SUITE_P(Versions, WineAcceptance, ::testing::ValuesIn(Versions()), NameOf);
INSTANTIATE_TEST_SUITE_P(Carriers, WineAcceptance, ::testing::ValuesIn(Carriers()), NameOf);

}  // namespace
}  // namespace winetest
