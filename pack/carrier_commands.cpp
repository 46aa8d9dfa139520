// list and extract: what a finished installer carries, seen and taken out without running it.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "pack/carrier.h"
#include "pack/commands.h"
#include "pack/files.h"
#include "pack/json_report.h"

namespace vexa {
namespace {

namespace fs = std::filesystem;

// Opens FILE; on a failure reports it (as the command's JSON too, when asked) and returns
// nothing. A file too large for the format is no installer, and is refused unread.
std::unique_ptr<InputFile> OpenInput(const Options& options, int* status) {
  try {
    return std::make_unique<InputFile>(options.input);
  } catch (const FileError& e) {
    const auto* large = dynamic_cast<const TooLargeError*>(&e);
    Problem problem = large ? Problem{Fault::TooLarge, -1, 0, large->size}
                            : Problem{Fault::Unreadable, -1, 0, 0, 0, e.what()};
    if (options.json) {
      CarrierReport report;
      report.expectSum = options.expectSum;
      if (large) report.fileSize = large->size;
      report.problems.push_back(problem);
      fputs(CarrierJson(options.input, report).c_str(), stdout);
    }
    *status = Report(options.input, Describe(problem), StatusOf(problem.fault));
    return nullptr;
  }
}

void PrintListing(const std::string& file, const CarrierReport& report) {
  const ScanReport& scan = report.scan;
  if (report.kind == FileKind::Other || !scan.markerFound) return;
  std::string what = report.kind == FileKind::Archive ? "archive" : "installer";
  if (report.kind == FileKind::Carrier) {
    what += report.isSigned ? ", signed (the signature itself is not checked)" : ", not signed";
  }
  printf("%s: %s, archive at offset %llu\n", file.c_str(), what.c_str(),
         (unsigned long long)scan.firstMarker);
  printf("%-3s  %-12s  %10s  %10s  %10s\n", "row", "target", "offset", "stored", "decoded");
  for (const ScannedSegment& s : scan.segments) {
    char decoded[24] = "failed";
    if (s.decoded) snprintf(decoded, sizeof decoded, "%llu", (unsigned long long)s.decodedSize);
    printf("%3d  %-12s  %10llu  %10llu  %10s\n", s.row,
           s.row < SEGMENT_COUNT ? TargetFileTable[s.row] : "", (unsigned long long)s.offset,
           (unsigned long long)s.bodyLength, decoded);
  }
  printf("sum       %s\n", HexSum(scan.sum).c_str());
  auto expectation = [&](const char* label, uint32_t expected, const char* source) {
    printf("%-8s  %s  %s (%s)\n", label, HexSum(expected).c_str(),
           expected == scan.sum ? "matches" : "differs", source);
  };
  if (report.carriedSum) expectation("carried", *report.carriedSum, "the installer's own");
  if (report.expectSum) expectation("expected", *report.expectSum, "--expect-sum");
  if (!report.carriedSum && !report.expectSum) {
    printf("expected  none: %s\n", report.kind == FileKind::Carrier
                                       ? "the installer holds no sum record; give --expect-sum"
                                       : "give --expect-sum");
  }
}

// One line on standard error, rewritten in place, only when that is a terminal.
class Progress {
 public:
  Progress() : shown_(isatty(STDERR_FILENO) == 1) {}
  void Show(const std::string& text) {
    if (!shown_) return;
    std::string line = "\rvexa-pack: " + text;
    size_t length = line.size();
    if (length < width_) line.append(width_ - length, ' ');  // over the longer last line
    width_ = length;
    fputs(line.c_str(), stderr);
    open_ = true;
  }
  // Ends the line so that what follows starts on a fresh one.
  void End() {
    if (open_) fputc('\n', stderr);
    open_ = false;
  }

 private:
  bool shown_;
  bool open_ = false;
  size_t width_ = 0;
};

// Holds the signals that would end the program while files are being put in place, so a
// user's interrupt arrives after the files are all in place or all rolled back.
class SignalHold {
 public:
  SignalHold() {
    sigset_t held;
    sigemptyset(&held);
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&held, s);
    sigprocmask(SIG_BLOCK, &held, &saved_);
  }
  ~SignalHold() { sigprocmask(SIG_SETMASK, &saved_, nullptr); }
  SignalHold(const SignalHold&) = delete;
  SignalHold& operator=(const SignalHold&) = delete;

 private:
  sigset_t saved_;
};

// The eleven files going into DIR: written under temporary names, then renamed into place
// together. Until Commit has finished, destruction leaves DIR as it was.
class Extraction {
 public:
  explicit Extraction(fs::path dir) : dir_(std::move(dir)) {}
  Extraction(const Extraction&) = delete;
  Extraction& operator=(const Extraction&) = delete;
  ~Extraction() { RollBack(); }

  void MakeFolder() {
    std::error_code error;
    fs::file_status status = fs::status(dir_, error);
    if (fs::exists(status)) {
      if (!fs::is_directory(status)) throw FileError(dir_, "not a folder");
      return;
    }
    std::vector<fs::path> missing;
    for (fs::path p = dir_; !p.empty() && !fs::exists(p, error); p = p.parent_path()) {
      missing.push_back(p);
      if (p == p.parent_path()) break;
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
      if (mkdir(it->c_str(), 0755) != 0) throw FileError(*it, strerror(errno));
      created_.push_back(*it);
    }
  }

  void Write(const std::string& name, const std::vector<uint8_t>& bytes, bool replacing) {
    auto file = std::make_unique<PendingFile>(dir_ / name);
    file->Write(bytes);
    Slot& slot = slots_.emplace_back();
    slot.file = std::move(file);
    slot.replacing = replacing;
  }

  // Renames every file into place; on a failure, puts back what was there.
  void Commit() {
    for (Slot& slot : slots_) {
      const fs::path& target = slot.file->target();
      if (slot.replacing) {
        slot.backup = AsideName(target);
        if (rename(target.c_str(), slot.backup.c_str()) != 0)
          throw FileError(target, strerror(errno));
        slot.movedAway = true;
      }
      slot.file->Commit();
      slot.placed = true;
    }
    for (Slot& slot : slots_) {
      if (!slot.backup.empty()) unlink(slot.backup.c_str());
    }
    slots_.clear();
    created_.clear();
  }

 private:
  struct Slot {
    std::unique_ptr<PendingFile> file;  // removes its temporary file unless placed
    fs::path backup;
    bool replacing = false, movedAway = false, placed = false;
  };

  // A free hidden name beside target for the file it replaces, until the others are in.
  static fs::path AsideName(const fs::path& target) {
    std::string name = ".";
    name += target.filename().string();
    name += ".old.XXXXXX";
    std::string path = (target.parent_path() / name).string();
    int fd = mkstemp(path.data());
    if (fd < 0) throw FileError(target, strerror(errno));
    close(fd);
    return path;
  }

  void RollBack() {
    for (auto it = slots_.rbegin(); it != slots_.rend(); ++it) {
      if (it->placed) unlink(it->file->target().c_str());
      if (it->movedAway)
        rename(it->backup.c_str(), it->file->target().c_str());
      else if (!it->backup.empty())
        unlink(it->backup.c_str());
    }
    slots_.clear();
    for (auto it = created_.rbegin(); it != created_.rend(); ++it) rmdir(it->c_str());
    created_.clear();
  }

  fs::path dir_;
  std::vector<fs::path> created_;
  std::vector<Slot> slots_;
};

bool SameFile(const fs::path& a, const fs::path& b) {
  std::error_code error;
  return fs::equivalent(a, b, error);
}

}  // namespace

int List(const Options& options) {
  int status = EXIT_OK;
  std::unique_ptr<InputFile> input = OpenInput(options, &status);
  if (!input) return status;
  CarrierOptions read;
  read.expectSum = options.expectSum;
  CarrierReport report = ReadCarrier(input->bytes(), read);
  if (options.json) {
    fputs(CarrierJson(options.input, report).c_str(), stdout);
  } else {
    PrintListing(options.input, report);
  }
  fflush(stdout);
  for (const Problem& p : report.problems) Report(options.input, Describe(p));
  return report.Status();
}

int Extract(const Options& options) {
  Progress progress;
  progress.Show("reading " + options.input);
  int status = EXIT_OK;
  std::unique_ptr<InputFile> input = OpenInput(options, &status);
  if (!input) {
    progress.End();
    return status;
  }
  CarrierOptions read;
  read.expectSum = options.expectSum;
  read.keepOutputs = true;
  read.onSegment = [&](int row) {
    progress.Show("decoding " + std::to_string(row + 1) + "/" + std::to_string(SEGMENT_COUNT) +
                  " " + (row < SEGMENT_COUNT ? TargetFileTable[row] : ""));
  };
  CarrierReport report = ReadCarrier(input->bytes(), read);
  status = report.Status();
  if (status != 0) {
    progress.End();
    for (const Problem& p : report.problems) Report(options.input, Describe(p));
    return status;
  }

  const fs::path dir = options.directory;
  std::vector<bool> replacing(SEGMENT_COUNT, false);
  std::vector<std::string> existing;
  for (int row = 0; row < SEGMENT_COUNT; row++) {
    fs::path target = dir / TargetFileTable[row];
    struct stat info;
    if (lstat(target.c_str(), &info) != 0) continue;
    replacing[row] = true;
    if (SameFile(options.input, target)) {
      progress.End();
      return Report(target, "refusing to overwrite the input", STATUS_IN_THE_WAY);
    }
    if (S_ISDIR(info.st_mode)) {
      progress.End();
      return Report(target, "a folder is in the way; --force replaces only files",
                    STATUS_IN_THE_WAY);
    }
    existing.push_back(TargetFileTable[row]);
  }
  if (!existing.empty() && !options.force) {
    progress.End();
    if (existing.size() == 1) {
      return Report(dir / existing[0], "exists; --force replaces it", STATUS_IN_THE_WAY);
    }
    std::string names;
    for (const std::string& name : existing) names += (names.empty() ? "" : ", ") + name;
    return Report(dir,
                  std::to_string(existing.size()) + " of the files exist (" + names +
                      "); --force replaces them",
                  STATUS_IN_THE_WAY);
  }

  try {
    SignalHold hold;
    Extraction extraction(dir);
    extraction.MakeFolder();
    uint64_t total = 0;
    for (int row = 0; row < SEGMENT_COUNT; row++) {
      progress.Show("writing " + std::to_string(row + 1) + "/" + std::to_string(SEGMENT_COUNT) +
                    " " + TargetFileTable[row]);
      const std::vector<uint8_t>& bytes = report.scan.segments[row].output;
      extraction.Write(TargetFileTable[row], bytes, replacing[row]);
      total += bytes.size();
    }
    extraction.Commit();
    progress.Show("extracted " + std::to_string(SEGMENT_COUNT) + " files, " +
                  std::to_string(total) + " bytes, into " + dir.string());
    progress.End();
  } catch (const FileError& e) {
    progress.End();
    return Report(e.file, e.what());
  }
  return EXIT_OK;
}

}  // namespace vexa
