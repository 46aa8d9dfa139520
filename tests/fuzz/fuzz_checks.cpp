#include "tests/fuzz/fuzz_checks.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <random>

#include "engine/file_system.h"
#include "engine/file_system_posix.h"
#include "engine/install_run.h"
#include "engine/lzhuf_decoder.h"
#include "engine/shared.h"
#include "engine/wizard_link.h"
#include "tests/fake_wizard.h"
#include "tests/test_files.h"

// The sum the installation run requires; the check sets it to the seed archive's.
uint32_t ExpectedArchiveSum;

namespace fuzzcheck {
namespace {

namespace fs = std::filesystem;

const Bytes kMarker = {'A', 'R', 'N', 'I'};

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

uint32_t SizeField(std::span<const uint8_t> segment) {
  uint32_t size = 0;
  for (size_t k = 0; k < 4 && k < segment.size(); k++) size |= (uint32_t)segment[k] << (8 * k);
  return size;
}

// The decoder's state as a fresh process has it, so every input decodes alike however
// many came before (the ring's last 60 bytes carry over between segments).
void FreshDecoder() { memset(&Decoder, 0, sizeof Decoder); }

// ---- The decoder over memory, through C streams as the installer's.

struct MemoryInput {
  std::span<const uint8_t> bytes;
  size_t at = 0;
};

ssize_t ReadMemory(void* cookie, char* buffer, size_t size) {
  auto* in = static_cast<MemoryInput*>(cookie);
  size_t n = std::min(size, in->bytes.size() - in->at);
  memcpy(buffer, in->bytes.data() + in->at, n);
  in->at += n;
  return (ssize_t)n;
}

// Counts every byte as it is written (the stream is unbuffered) and refuses any beyond
// the limit, so a runaway decoder is caught at its first extra byte.
struct MemoryOutput {
  Bytes bytes;
  size_t limit = 0;
  bool overrun = false;
};

ssize_t WriteMemory(void* cookie, const char* data, size_t size) {
  auto* out = static_cast<MemoryOutput*>(cookie);
  if (out->bytes.size() + size > out->limit) {
    out->overrun = true;
    return -1;
  }
  out->bytes.insert(out->bytes.end(), data, data + size);
  return (ssize_t)size;
}

struct ProgressLog {
  std::vector<uint32_t> written;
  std::vector<uint32_t> sizes;
  int finished = 0;
};
ProgressLog progressLog;

void LogDraw(uint32_t written, uint32_t size) {
  progressLog.written.push_back(written);
  progressLog.sizes.push_back(size);
}
void LogFinish() { progressLog.finished++; }

struct Decoded {
  int result = 0;
  Bytes output;
  bool overrun = false;
  uint32_t pastEndReads = 0;
  int inputFailed = 0;
  ProgressLog progress;
};

Decoded Decode(std::span<const uint8_t> segment, unsigned barWidth) {
  MemoryInput in{segment};
  MemoryOutput out;
  // A whole match may run past the declared size, by at most MAX_MATCH - 1 bytes.
  out.limit = segment.size() < 4 ? 0 : (size_t)SizeField(segment) + MAX_MATCH - 1;
  static const cookie_io_functions_t reader = {ReadMemory, nullptr, nullptr, nullptr};
  static const cookie_io_functions_t writer = {nullptr, WriteMemory, nullptr, nullptr};
  FILE* input = fopencookie(&in, "rb", reader);
  FILE* output = fopencookie(&out, "wb", writer);
  if (input == nullptr || output == nullptr) abort();
  setvbuf(output, nullptr, _IONBF, 0);
  progressLog = ProgressLog();
  LzhufProgress progress = {barWidth, LogDraw, LogFinish};
  FreshDecoder();
  Decoded decoded;
  decoded.result = LzhufDecode(input, output, &progress);
  fclose(output);
  fclose(input);
  decoded.output = std::move(out.bytes);
  decoded.overrun = out.overrun;
  decoded.pastEndReads = Decoder.pastEndReads;
  decoded.inputFailed = Decoder.inputFailed;
  decoded.progress = progressLog;
  return decoded;
}

bool IsPrefix(const Bytes& part, const Bytes& whole) {
  return part.size() <= whole.size() && std::equal(part.begin(), part.end(), whole.begin());
}

// ---- The installation run on the POSIX layer, in a private root for this process.

const char kCarrier[] = "c:\\setup.exe";
const char kTempFolder[] = "c:\\temp";
const char kDestination[] = "c:\\vexa";

class RunArea {
 public:
  RunArea() {
    std::string pattern = (fs::temp_directory_path() / "vexa_fuzz_XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) abort();
    root_ = pattern;
  }
  ~RunArea() {
    std::error_code ignored;
    MakeWritable(root_);
    fs::remove_all(root_, ignored);
  }
  RunArea(const RunArea&) = delete;
  RunArea& operator=(const RunArea&) = delete;

  // Empties the area and points the file-system layer and the temporary folder at it.
  void Reset() {
    FsPosixSetRoot(root_.c_str());
    std::error_code ignored;
    fs::path c = Host("c:\\");
    MakeWritable(c);
    fs::remove_all(c, ignored);
    fs::create_directories(Host(kTempFolder));
    setenv("TMP", kTempFolder, 1);
    unsetenv("TEMP");
  }

  static fs::path Host(const std::string& win) { return FsHostPath(win.c_str()); }

  static void MakeWritable(const fs::path& path) {
    std::error_code ignored;
    if (!fs::exists(path, ignored)) return;
    fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ignored);
    if (!fs::is_directory(path, ignored)) return;
    for (const auto& entry : fs::recursive_directory_iterator(path, ignored)) {
      fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
  }

 private:
  std::string root_;
};

RunArea& Area() {
  static RunArea area;
  return area;
}

// Relative name and content of every file below a folder; folders end in "/".
std::map<std::string, Bytes> Listing(const fs::path& folder) {
  std::map<std::string, Bytes> listing;
  std::error_code error;
  if (!fs::exists(folder, error)) return listing;
  for (const auto& entry : fs::recursive_directory_iterator(folder, error)) {
    std::string name = fs::relative(entry.path(), folder).generic_string();
    if (entry.is_directory()) {
      listing[name + "/"] = {};
    } else {
      listing[name] = testfiles::Read(entry.path());
    }
  }
  return listing;
}

Bytes EarlierFile(int row) { return Text(std::string("earlier ") + TargetFileTable[row] + "\r\n"); }

bool IsSettingsRow(int row) { return row >= 6; }

struct Outcome {
  int result = RUN_FAILED;
  int steps = 0;
  bool hung = false;
};

// Drives the run as the wizard dialog does, from Install to the run's end; a run that
// does not end within the steps its carrier allows counts as hung.
Outcome DriveRun(size_t carrierSize) {
  Outcome outcome;
  ResetFakeWizard();
  CopyText(DestinationFolder, FOLDER_TEXT_SIZE, kDestination);
  ResetRun();
  ShowScanStatus();
  DrawInstallBar(nullptr, nullptr);
  if (CreateDestination() == RUN_RETRY_OPTIONS) {
    outcome.result = RUN_RETRY_OPTIONS;
    return outcome;
  }
  if (OpenCarrier() != RUN_DONE) {
    AbandonRun();
    return outcome;
  }
  const int maxSteps = (int)(carrierSize / (STEP_BUDGET + 1)) + 2;
  for (;;) {
    if (++outcome.steps > maxSteps) {
      outcome.hung = true;
      AbandonRun();
      return outcome;
    }
    int result = RunStep();
    if (result == RUN_MORE) continue;
    outcome.result = result;
    if (result != RUN_DONE) {
      AbandonRun();
    } else if (::Run.segmentIndex == 0) {
      // The wizard's own check: a run that handled no segment is a corrupt file.
      AbandonRun();
      ShowErrorBox("no segment", "Vexa Installation Error [14]");
      outcome.result = RUN_FAILED;
    }
    return outcome;
  }
}

std::string Join(const std::vector<ShownBox>& boxes) {
  std::string all;
  for (const auto& box : boxes) all += "[" + box.caption + "] ";
  return all;
}

// Runs the installation described by input and returns the first rule it broke.
std::string InstallRules(std::span<const uint8_t> input, int* result) {
  uint8_t flags = input.empty() ? 0 : input[0];
  long failAfter = (input.size() > 1 ? input[1] : 0) | (input.size() > 2 ? input[2] : 0) << 8;
  std::span<const uint8_t> carrier =
      input.size() > 3 ? input.subspan(3) : std::span<const uint8_t>();
  MakeBackups = flags & 1;
  KeepSettings = (flags >> 1) & 1;
  bool earlier = (flags >> 2) & 1;
  bool targetsFail = (flags >> 3) & 1, tempFails = !targetsFail && ((flags >> 4) & 1);
  // A file where the backup folder belongs: with backups on, replacing a file fails ([7]).
  bool backupBlocked = earlier && ((flags >> 5) & 1);
  // The write that reaches the limit fails alone; later ones succeed (a flaky device).
  bool failOnce = (flags >> 6) & 1;

  RunArea& area = Area();
  area.Reset();
  fs::path destination = RunArea::Host(kDestination);
  if (earlier) {
    fs::create_directories(destination);
    for (int row = 0; row < SEGMENT_COUNT; row++) {
      testfiles::Write(destination / TargetFileTable[row], EarlierFile(row));
    }
    fs::permissions(destination / TargetFileTable[3], fs::perms::owner_write,
                    fs::perm_options::remove);
    if (backupBlocked) testfiles::Write(destination / "backup", Text("not a folder"));
  }
  testfiles::Write(RunArea::Host(kCarrier), carrier);
  FsUseCarrier(kCarrier);
  ExpectedArchiveSum = SeedArchive().sum;

  if (targetsFail) FsPosixFailWrites("/c/vexa/", failAfter, failOnce);
  if (tempFails) FsPosixFailWrites("/c/temp/vexa.tmp", failAfter, failOnce);
  FreshDecoder();
  Outcome outcome = DriveRun(carrier.size());
  FsPosixFailWrites(nullptr, -1);
  int handled = ::Run.segmentIndex;
  *result = outcome.result;

  // What the release tool's scan says of the same carrier.
  FreshDecoder();
  vexa::ScanReport scan = vexa::ScanArchive(carrier, true);

  std::string boxes = Join(Wizard.boxes);
  if (outcome.hung) return "the run did not end";
  if (outcome.result != RUN_DONE && outcome.result != RUN_FAILED &&
      outcome.result != RUN_RETRY_OPTIONS) {
    return "result " + std::to_string(outcome.result);
  }
  if (::Run.carrierStream != nullptr || ::Run.tempStream != nullptr) return "a stream left open";
  bool done = outcome.result == RUN_DONE;
  if (done != Wizard.boxes.empty() || Wizard.boxes.size() > 1) return "boxes shown: " + boxes;

  // Nothing outside the destination, the temporary file gone in every case.
  for (const auto& entry : fs::directory_iterator(RunArea::Host("c:\\"))) {
    std::string name = entry.path().filename().string();
    if (name != "setup.exe" && name != "temp" && name != "vexa") return "left behind: c:\\" + name;
  }
  if (!fs::is_empty(RunArea::Host(kTempFolder))) return "the temporary folder is not empty";

  auto kept = [&](int row) { return earlier && KeepSettings && IsSettingsRow(row); };
  // Without injected faults the run succeeds exactly when the scan finds every segment
  // that it must decode sound, and the sum right.
  if (!targetsFail && !tempFails && !(backupBlocked && MakeBackups)) {
    bool sound = scan.sum == ExpectedArchiveSum && !scan.segments.empty();
    for (size_t row = 0; row < scan.segments.size(); row++) {
      sound = sound && (kept((int)row) || scan.segments[row].decoded);
    }
    if (sound != done) {
      return sound ? "failed where the scan finds the archive sound: " + boxes
                   : "success where the scan finds the archive broken";
    }
  }
  auto listing = Listing(destination);
  // Nothing but the target files and the backups, or the file in the backup folder's way.
  for (const auto& entry : listing) {
    const std::string& name = entry.first;
    bool target = false;
    for (const char* row : TargetFileTable) target = target || name == row;
    if (!target && name != "backup" && name.rfind("backup/", 0) != 0) {
      return "left behind: " + name + " after " + boxes;
    }
  }
  if (!done) {
    if (!earlier) {
      if (fs::exists(destination))
        return "the destination the run created is still there after " + boxes;
      return "";
    }
    // Every earlier file is back, or, without backups, gone with the run's own copy.
    for (int row = 0; row < SEGMENT_COUNT; row++) {
      auto at = listing.find(TargetFileTable[row]);
      bool backedUp = MakeBackups || kept(row);
      if (at == listing.end() ? backedUp : at->second != EarlierFile(row)) {
        return std::string("earlier ") + TargetFileTable[row] + " not restored after " + boxes;
      }
    }
    return "";
  }

  // A success: each handled row holds what the scan decoded, or its earlier file kept.
  if ((size_t)handled != scan.segments.size())
    return "the run and the scan disagree on the segments";
  if (scan.sum != ExpectedArchiveSum) return "success with a sum that is not the expected one";
  for (int row = 0; row < SEGMENT_COUNT; row++) {
    auto at = listing.find(TargetFileTable[row]);
    Bytes want;
    if (row < handled && !kept(row)) {
      if (!scan.segments[row].decoded)
        return std::string("success with a row that does not decode: ") + TargetFileTable[row];
      want = scan.segments[row].output;
    } else if (earlier) {
      want = EarlierFile(row);
    } else {
      if (at != listing.end())
        return std::string("success wrote a row it did not handle: ") + TargetFileTable[row];
      continue;
    }
    if (at == listing.end() || at->second != want)
      return std::string("success with a wrong ") + TargetFileTable[row];
    if (earlier && MakeBackups && row < handled && !kept(row)) {
      auto copy = listing.find(std::string("backup/") + TargetFileTable[row]);
      if (copy == listing.end() || copy->second != EarlierFile(row)) {
        return std::string("no backup of ") + TargetFileTable[row];
      }
    }
  }
  return "";
}

}  // namespace

const char* TargetName(Target target) {
  switch (target) {
    case Target::Decode:
      return "decode";
    case Target::Scan:
      return "scan";
    case Target::Install:
      return "install";
  }
  return "";
}

const vexa::Archive& SeedArchive() {
  static const vexa::Archive archive = [] {
    std::vector<Bytes> files;
    std::mt19937 random(2024);
    for (int row = 0; row < SEGMENT_COUNT; row++) {
      std::string line =
          std::string("[") + TargetFileTable[row] + "] key" + std::to_string(row) + "=value\r\n";
      Bytes file;
      for (int k = 0; k <= row; k++) file.insert(file.end(), line.begin(), line.end());
      // Row 0 gets bytes that code as literals, so its body also holds long codes.
      if (row == 0) {
        for (int k = 0; k < 200; k++) file.push_back((uint8_t)random());
      }
      files.push_back(file);
    }
    return vexa::BuildArchive(files);
  }();
  return archive;
}

std::vector<Seed> Seeds(Target target, const std::string& vectorDir) {
  const vexa::Archive& archive = SeedArchive();
  std::vector<Seed> seeds;
  if (target == Target::Decode) {
    std::error_code missing;
    for (const auto& entry : fs::directory_iterator(vectorDir, missing)) {
      if (entry.path().extension() == ".lzh") {
        seeds.push_back({"vector_" + entry.path().stem().string(), testfiles::Read(entry.path())});
      }
    }
    for (size_t row = 0; row < archive.segments.size(); row++) {
      seeds.push_back({"row" + std::to_string(row), archive.segments[row].body});
    }
    std::sort(seeds.begin(), seeds.end(),
              [](const Seed& a, const Seed& b) { return a.name < b.name; });
    return seeds;
  }
  // Code in front of the archive, free of the marker's letters, and what follows it in
  // a real carrier.
  Bytes code = Text("MZ");
  for (int k = 0; k < 200; k++) code.push_back((uint8_t)(k % 0x40));
  Bytes carrier = Cat({code, archive.bytes, kMarker, Text("\r\n"), Bytes(64, 0xCC)});
  Bytes unclosed(archive.bytes.begin(), archive.bytes.end() - MARKER_LENGTH);
  if (target == Target::Scan) {
    seeds.push_back({"archive", archive.bytes});
    seeds.push_back({"carrier", carrier});
    seeds.push_back({"unclosed", unclosed});
    seeds.push_back({"marker_only", kMarker});
    return seeds;
  }
  const struct {
    const char* name;
    uint8_t flags;
    uint16_t failAfter;
  } circumstances[] = {
      {"fresh", 0, 0},
      {"backups", 1, 0},
      {"upgrade", 4, 0},
      {"upgrade_backups", 5, 0},
      {"upgrade_keep_settings", 6, 0},
      {"upgrade_backups_keep_settings", 7, 0},
      {"target_full_after_100", 8, 100},
      {"upgrade_backups_target_full_after_100", 13, 100},
      {"upgrade_backup_folder_blocked", 37, 0},
      {"temp_full_after_50", 16, 50},
  };
  for (const auto& c : circumstances) {
    Bytes header = {c.flags, (uint8_t)(c.failAfter & 0xFF), (uint8_t)(c.failAfter >> 8)};
    seeds.push_back({c.name, Cat({header, carrier})});
  }
  seeds.push_back({"unclosed", Cat({Bytes{0, 0, 0}, unclosed})});
  return seeds;
}

std::string CheckDecode(std::span<const uint8_t> segment) {
  // The bar's width varies with the input, 0 included.
  unsigned width = (unsigned)(segment.size() % 257);
  Decoded a = Decode(segment, width);
  uint32_t declared = SizeField(segment);
  if (a.result != 0 && a.result != 1) return "result " + std::to_string(a.result);
  if (a.overrun) return "wrote more than the declared size and one match";
  if (segment.size() < 4 || declared == 0) {
    if (a.result != 0 || !a.output.empty()) return "an unusable header decoded";
    return "";
  }
  if (a.result == 1) {
    if (a.output.size() < declared) return "success with fewer bytes than declared";
    if (a.pastEndReads > 1) return "success after reading more than one byte past the end";
    if (a.progress.finished != 1) return "success without erasing the bar";
  } else {
    if (!a.inputFailed) return "failed although the input neither ran out nor failed";
    if (a.progress.finished != 0) return "failure erased the bar as if complete";
  }
  uint32_t step = width == 0 ? 1 : std::max(declared / width, 1u);
  uint32_t last = 0;
  for (size_t k = 0; k < a.progress.written.size(); k++) {
    uint32_t written = a.progress.written[k];
    if (a.progress.sizes[k] != declared) return "bar drawn against another size";
    if (written % step != 0 || written <= last) return "bar drawn off its step";
    last = written;
  }

  // What lies past the end must not matter: the decoder may read one byte there, which
  // gives zero bits, but a success must never depend on that byte's bits, and a failure
  // must stop before writing anything that did.
  Bytes padded(segment.begin(), segment.end());
  padded.insert(padded.end(), 64, 0xFF);
  Decoded b = Decode(padded, width);
  if (a.result == 1 && (b.result != 1 || b.output != a.output)) {
    return "the output depends on bytes past the end of the segment";
  }
  if (a.result == 0 && !IsPrefix(a.output, b.output)) {
    return "a failed decode wrote bytes that depend on what lies past the end";
  }
  return "";
}

std::string CheckScan(std::span<const uint8_t> file) {
  FreshDecoder();
  vexa::ScanReport report = vexa::ScanArchive(file, true);
  const auto& segments = report.segments;
  if (segments.size() > SEGMENT_COUNT) return "more than eleven segments";
  if (!report.markerFound) {
    if (!segments.empty() || report.sum != 0) return "segments without a marker";
    if (report.problems.empty()) return "no marker, yet no problem";
    return "";
  }
  auto markerAt = [&](uint64_t at) {
    return at + MARKER_LENGTH <= file.size() &&
           std::equal(kMarker.begin(), kMarker.end(), file.begin() + (ptrdiff_t)at);
  };
  if (!markerAt(report.firstMarker)) return "the first marker is not where reported";
  if (segments.empty()) return "a marker but no segment";

  // Segments follow each other, each closed by a marker but maybe the last.
  uint64_t expectedOffset = report.firstMarker + MARKER_LENGTH;
  bool clean = true;
  for (size_t k = 0; k < segments.size(); k++) {
    const vexa::ScannedSegment& s = segments[k];
    if (s.row != (int)k) return "rows out of order";
    if (s.offset != expectedOffset) return "segment " + std::to_string(k) + " at the wrong offset";
    uint64_t end = s.offset + s.bodyLength;
    if (end > file.size()) return "segment " + std::to_string(k) + " runs past the file";
    auto body = file.subspan(s.offset, s.bodyLength);
    if (s.declaredSize != SizeField(body)) return "declared size misread";
    if (s.closed ? !markerAt(end) : end != file.size()) return "segment end misreported";
    if (!s.closed && k + 1 != segments.size()) return "an unclosed segment before the last";
    if (s.output.size() != s.decodedSize) return "kept output differs from its size";
    if (s.decodedSize > (uint64_t)s.declaredSize + MAX_MATCH - 1)
      return "decoded past the declared size";
    if (s.decoded && (body.size() < 4 || s.declaredSize == 0 || s.decodedSize < s.declaredSize)) {
      return "a segment reported decoded that cannot be";
    }
    clean = clean && s.closed && s.decoded && s.decodedSize == s.declaredSize &&
            vexa::FindMarkerBytes(body) == std::string::npos;
    expectedOffset = end + MARKER_LENGTH;
  }

  // The sum covers the bytes after the opening marker through the closing marker of the
  // eleventh segment, or through the file's end.
  const vexa::ScannedSegment& last = segments.back();
  uint64_t counted = segments.size() == SEGMENT_COUNT && last.closed
                         ? last.offset + last.bodyLength + MARKER_LENGTH
                         : file.size();
  uint64_t from = report.firstMarker + MARKER_LENGTH;
  if (report.sum != vexa::ArchiveSum(file.subspan(from, counted - from))) return "sum misreported";

  clean = clean && segments.size() == SEGMENT_COUNT &&
          vexa::FindMarkerBytes(file.first(report.firstMarker)) == std::string::npos;
  if (clean != report.problems.empty()) {
    return clean ? "a sound archive reported with problems: " +
                       vexa::Describe(report.problems.front())
                 : "a broken archive reported without problems";
  }
  return "";
}

std::string CheckInstall(std::span<const uint8_t> input) { return RunInstall(input).broken; }

InstallReport RunInstall(std::span<const uint8_t> input) {
  InstallReport report;
  report.broken = InstallRules(input, &report.result);
  for (const ShownBox& box : Wizard.boxes) report.captions.push_back(box.caption);
  return report;
}

std::string Check(Target target, std::span<const uint8_t> input) {
  switch (target) {
    case Target::Decode:
      return CheckDecode(input);
    case Target::Scan:
      return CheckScan(input);
    case Target::Install:
      return CheckInstall(input);
  }
  return "unknown target";
}

}  // namespace fuzzcheck
