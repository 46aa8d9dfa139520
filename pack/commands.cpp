#include "pack/commands.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

#include "engine/lzhuf_decoder.h"
#include "pack/archive.h"
#include "pack/carrier.h"
#include "pack/memory_streams.h"

namespace vexa {

int Report(const std::string& file, const std::string& problem, int status) {
  fprintf(stderr, "vexa-pack: %s: %s\n", file.c_str(), problem.c_str());
  return status;
}

int WriteAll(int fd, const std::vector<uint8_t>& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) return errno;
    done += (size_t)n;
  }
  return 0;
}

std::optional<std::vector<uint8_t>> ReadWhole(const std::string& path, std::string* problem) {
  FILE* f = fopen(path.c_str(), "rb");
  if (f == nullptr) {
    *problem = strerror(errno);
    return std::nullopt;
  }
  struct stat info;
  bool known = fstat(fileno(f), &info) == 0;
  if (known && S_ISDIR(info.st_mode)) {
    fclose(f);
    *problem = "a folder, not a file";
    return std::nullopt;
  }
  std::vector<uint8_t> bytes;
  // Sized once where the size is known, rather than grown to twice the file.
  if (known && S_ISREG(info.st_mode)) bytes.reserve((size_t)info.st_size);
  uint8_t chunk[1 << 16];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
  bool failed = ferror(f);
  fclose(f);
  if (failed) {
    *problem = "read error";
    return std::nullopt;
  }
  return bytes;
}

namespace {

namespace fs = std::filesystem;

// A failure that names its file; reported as "vexa-pack: <file>: <problem>".
struct FileError : std::runtime_error {
  FileError(const std::string& file, const std::string& problem)
      : std::runtime_error(problem), file(file) {}
  std::string file;
};

std::vector<uint8_t> ReadWhole(const std::string& path) {
  std::string problem;
  std::optional<std::vector<uint8_t>> bytes = vexa::ReadWhole(path, &problem);
  if (!bytes) throw FileError(path, problem);
  return std::move(*bytes);
}

// Writes beside the destination under a temporary name and renames it into place, so a
// failure never leaves a half-written file under the real name.
class PendingFile {
 public:
  PendingFile(const std::string& path, const std::vector<uint8_t>& bytes)
      : path_(path), temp_(path + ".XXXXXX") {
    int fd = mkstemp(temp_.data());
    if (fd < 0) throw FileError(path, strerror(errno));
    if (int error = WriteAll(fd, bytes)) {
      close(fd);
      unlink(temp_.c_str());
      throw FileError(path, strerror(error));
    }
    fchmod(fd, 0644);
    if (close(fd) != 0) {
      int error = errno;
      unlink(temp_.c_str());
      throw FileError(path, strerror(error));
    }
  }
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;
  ~PendingFile() {
    if (!temp_.empty()) unlink(temp_.c_str());
  }
  void Commit() {
    if (rename(temp_.c_str(), path_.c_str()) != 0) throw FileError(path_, strerror(errno));
    temp_.clear();
  }

 private:
  std::string path_;
  std::string temp_;
};

void RefuseSameFile(const std::string& input, const std::string& output) {
  std::error_code error;
  if (fs::exists(output, error) && fs::equivalent(input, output, error)) {
    throw FileError(output, "refusing to overwrite the input");
  }
}

// Runs a command's file work; a failure is reported against its file, or else the input.
template <typename Body>
int Guarded(const std::string& input, Body body) {
  try {
    return body();
  } catch (const FileError& e) {
    return Report(e.file, e.what());
  } catch (const std::exception& e) {
    return Report(input, e.what());
  }
}

std::string Hex(uint32_t value) {
  char text[16];
  snprintf(text, sizeof text, "0x%08x", value);
  return text;
}

}  // namespace

int Encode(const Options& options) {
  return Guarded(options.input, [&]() -> int {
    RefuseSameFile(options.input, options.output);
    std::vector<uint8_t> data = ReadWhole(options.input);
    if (data.empty())
      throw FileError(options.input, "empty file; a segment holds at least one byte");
    if (data.size() > UINT32_MAX)
      throw FileError(options.input, "too large for a segment's size field");
    PackedSegment segment = PackSegment(data, options.parse);
    PendingFile out(options.output, segment.body);
    out.Commit();
    return EXIT_OK;
  });
}

// Decodes straight from the input file into a temporary file beside the output, through
// the streams' buffers, so memory stays small whatever the file's size.
int Decode(const Options& options) {
  return Guarded(options.input, [&]() -> int {
    RefuseSameFile(options.input, options.output);
    constexpr size_t kBuffer = 1 << 16;
    std::unique_ptr<FILE, int (*)(FILE*)> input(fopen(options.input.c_str(), "rb"), fclose);
    if (!input) throw FileError(options.input, strerror(errno));
    setvbuf(input.get(), nullptr, _IOFBF, kBuffer);
    std::string temp = options.output + ".XXXXXX";
    int fd = mkstemp(temp.data());
    if (fd < 0) throw FileError(options.output, strerror(errno));
    fchmod(fd, 0644);
    FILE* output = fdopen(fd, "wb");
    if (output == nullptr) {
      int error = errno;
      close(fd);
      unlink(temp.c_str());
      throw FileError(options.output, strerror(error));
    }
    setvbuf(output, nullptr, _IOFBF, kBuffer);
    int ok = LzhufDecode(input.get(), output, nullptr);
    bool writeFailed = ferror(output) != 0;
    if (fclose(output) != 0) writeFailed = true;
    if (!ok || writeFailed || rename(temp.c_str(), options.output.c_str()) != 0) {
      int error = errno;
      unlink(temp.c_str());
      if (writeFailed) throw FileError(options.output, "write error");
      if (ok) throw FileError(options.output, strerror(error));
      if (ferror(input.get())) throw FileError(options.input, "read error");
      struct stat info;
      bool headerOnly = fstat(fileno(input.get()), &info) == 0 && info.st_size < 4;
      throw FileError(
          options.input,
          headerOnly ? "no size field"
                     : "not a valid segment (bad size field, or the bit stream ends too soon)");
    }
    return EXIT_OK;
  });
}

int Pack(const Options& options) {
  return Guarded(options.input, [&]() -> int {
    std::vector<std::vector<uint8_t>> files;
    int bad = 0;
    for (int row = 0; row < SEGMENT_COUNT; row++) {
      std::string path = (fs::path(options.input) / TargetFileTable[row]).string();
      struct stat info;
      if (stat(path.c_str(), &info) != 0) {
        bad += Report(path, errno == ENOENT ? "missing" : strerror(errno));
      } else if (!S_ISREG(info.st_mode)) {
        bad += Report(path, "not a regular file");
      } else if (info.st_size == 0) {
        bad += Report(path, "empty file; a segment holds at least one byte");
      } else if ((uint64_t)info.st_size > UINT32_MAX) {
        bad += Report(path, std::to_string(info.st_size) +
                                " bytes, more than a segment's size field can hold (4294967295)");
      } else {
        RefuseSameFile(path, options.output);
        if (!options.header.empty()) RefuseSameFile(path, options.header);
        files.push_back(ReadWhole(path));
        continue;
      }
      files.emplace_back();
    }
    if (bad > 0) return EXIT_FAILURE_;

    Archive archive = BuildArchive(files, options.parse);

    // Read the result back as the installer will before anything is written.
    ScanReport scan = ScanArchive(archive.bytes, true);
    bool same =
        scan.problems.empty() && scan.segments.size() == files.size() && scan.sum == archive.sum;
    for (size_t row = 0; same && row < files.size(); row++)
      same = scan.segments[row].output == files[row];
    if (!same) throw FileError(options.output, "internal error: the archive does not read back");

    std::vector<uint8_t> written = archive.bytes;
    if (options.resource) {
      written.insert(written.end(), kSegmentMarker.begin(), kSegmentMarker.end());
      written.push_back('\r');
      written.push_back('\n');
    }
    PendingFile out(options.output, written);
    std::optional<PendingFile> header;
    if (!options.header.empty()) {
      std::string text =
          "// Written by vexa-pack with the archive it belongs to; do not edit.\n"
          "#pragma once\n"
          "#define EXPECTED_ARCHIVE_SUM " +
          Hex(archive.sum) + "u /* " + std::to_string(archive.sum) +
          " */\n"
          "#define ARCHIVE_SIZE " +
          std::to_string(archive.bytes.size()) + "\n";
      header.emplace(options.header, std::vector<uint8_t>(text.begin(), text.end()));
    }
    out.Commit();
    if (header) header->Commit();
    return EXIT_OK;
  });
}

int Verify(const Options& options) {
  std::optional<ScanReport> scanned;
  std::vector<CarrierProblem> problems;
  auto fail = [&](const char* kind, const std::string& file, const std::string& problem) {
    Report(file, problem);
    problems.push_back(
        {kind, file == options.input ? problem : file + ": " + problem, EXIT_FAILURE_});
  };
  try {
    std::vector<uint8_t> data = ReadWhole(options.input);
    const ScanReport& scan = scanned.emplace(ScanArchive(data));
    if (!options.json) {
      printf("%-3s  %-12s  %10s  %10s  %10s  %10s\n", "row", "target", "offset", "body", "declared",
             "decoded");
      for (const ScannedSegment& s : scan.segments) {
        const char* name = s.row < SEGMENT_COUNT ? TargetFileTable[s.row] : "";
        char decoded[24] = "failed";
        if (s.decoded) snprintf(decoded, sizeof decoded, "%llu", (unsigned long long)s.decodedSize);
        printf("%3d  %-12s  %10llu  %10llu  %10u  %10s\n", s.row, name,
               (unsigned long long)s.offset, (unsigned long long)s.bodyLength, s.declaredSize,
               decoded);
      }
      printf("sum  %s (%u)\n", Hex(scan.sum).c_str(), scan.sum);
    }
    for (const std::string& problem : scan.problems) fail("scan", options.input, problem);
    if (options.expectSum && *options.expectSum != scan.sum) {
      fail("sum-mismatch", options.input,
           "sum " + Hex(scan.sum) + " differs from the expected " + Hex(*options.expectSum));
    }
    if (!options.expectArchive.empty()) {
      std::vector<uint8_t> expected = ReadWhole(options.expectArchive);
      ScanReport own = ScanArchive(expected);
      if (!own.markerFound || own.segments.size() != SEGMENT_COUNT) {
        throw FileError(options.expectArchive, "not an archive");
      }
      // The archive proper: from its opening marker through its closing marker.
      const ScannedSegment& last = own.segments.back();
      size_t end = (size_t)(last.offset + last.bodyLength) + MARKER_LENGTH;
      std::span<const uint8_t> proper(expected.data() + own.firstMarker, end - own.firstMarker);
      bool carried =
          scan.markerFound && data.size() >= scan.firstMarker + proper.size() &&
          std::equal(proper.begin(), proper.end(), data.begin() + (ptrdiff_t)scan.firstMarker);
      if (!carried) {
        fail("archive-mismatch", options.input,
             "the scan does not find the archive of " + options.expectArchive +
                 (scan.markerFound
                      ? " at its first marker, offset " + std::to_string(scan.firstMarker)
                      : ""));
      }
      if (own.sum != scan.sum) {
        fail("sum-mismatch", options.input,
             "sum " + Hex(scan.sum) + " differs from the archive's " + Hex(own.sum));
      }
    }
  } catch (const FileError& e) {
    fail("unreadable", e.file, e.what());
  } catch (const std::exception& e) {
    fail("unreadable", options.input, e.what());
  }
  int status = problems.empty() ? EXIT_OK : EXIT_FAILURE_;
  if (options.json) {
    fputs(VerifyJson(options.input, scanned ? &*scanned : nullptr, options.expectSum, problems,
                     status)
              .c_str(),
          stdout);
  }
  return status;
}

}  // namespace vexa
