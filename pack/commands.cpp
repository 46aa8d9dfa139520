#include "pack/commands.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

#include "engine/lzhuf_decoder.h"
#include "pack/archive.h"
#include "pack/carrier.h"
#include "pack/files.h"
#include "pack/json_report.h"
#include "pack/memory_streams.h"

namespace vexa {

namespace fs = std::filesystem;

int Report(const std::string& file, const std::string& problem, int status) {
  fprintf(stderr, "vexa-pack: %s: %s\n", file.c_str(), problem.c_str());
  return status;
}

int Guarded(const std::string& input, const std::function<int()>& body) {
  try {
    return body();
  } catch (const FileError& e) {
    return Report(e.file, e.what());
  } catch (const std::exception& e) {
    return Report(input, e.what());
  }
}

std::optional<std::vector<std::vector<uint8_t>>> ReadPayload(
    const std::string& dir, const std::vector<std::string>& outputs) {
  std::vector<std::vector<uint8_t>> files;
  int bad = 0;
  for (int row = 0; row < SEGMENT_COUNT; row++) {
    std::string path = (fs::path(dir) / TargetFileTable[row]).string();
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
      for (const std::string& output : outputs) {
        if (!output.empty()) RefuseSameFile(path, output);
      }
      InputFile input(path);
      files.emplace_back(input.bytes().begin(), input.bytes().end());
      continue;
    }
    files.emplace_back();
  }
  if (bad > 0) return std::nullopt;
  return files;
}

int Encode(const Options& options) {
  return Guarded(options.input, [&]() -> int {
    RefuseSameFile(options.input, options.output);
    std::optional<InputFile> input;
    try {
      input.emplace(options.input);
    } catch (const TooLargeError& e) {
      throw FileError(options.input, std::to_string(e.size) +
                                         " bytes, more than a segment's size field can hold "
                                         "(4294967295)");
    }
    if (input->bytes().empty())
      throw FileError(options.input, "empty file; a segment holds at least one byte");
    PackedSegment segment = PackSegment(input->bytes(), options.parse);
    PendingFile out(options.output);
    out.Write(segment.body);
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
    PendingFile output(options.output);
    int ok = LzhufDecode(input.get(), output.Stream(), nullptr);
    if (!ok) {
      if (ferror(input.get())) throw FileError(options.input, "read error");
      struct stat info;
      bool headerOnly = fstat(fileno(input.get()), &info) == 0 && info.st_size < 4;
      throw FileError(
          options.input,
          headerOnly ? "no size field"
                     : "not a valid segment (bad size field, or the bit stream ends too soon)");
    }
    output.Commit();
    return EXIT_OK;
  });
}

int Pack(const Options& options) {
  return Guarded(options.input, [&]() -> int {
    std::optional<std::vector<std::vector<uint8_t>>> payload =
        ReadPayload(options.input, {options.output, options.header});
    if (!payload) return EXIT_FAILURE_;
    const std::vector<std::vector<uint8_t>>& files = *payload;

    Archive archive = BuildArchive(files, options.parse);

    // Read the result back as the installer will before anything is written.
    ScanReport scan = ScanArchive(archive.bytes, true);
    bool same =
        scan.problems.empty() && scan.segments.size() == files.size() && scan.sum == archive.sum;
    for (size_t row = 0; same && row < files.size(); row++)
      same = scan.segments[row].output == files[row];
    if (!same) throw FileError(options.output, "internal error: the archive does not read back");

    PendingFile out(options.output);
    out.Write(options.resource ? ArchiveResource(archive) : archive.bytes);
    std::optional<PendingFile> header;
    if (!options.header.empty()) {
      std::string text =
          "// Written by vexa-pack with the archive it belongs to; do not edit.\n"
          "#pragma once\n"
          "#define EXPECTED_ARCHIVE_SUM " +
          HexSum(archive.sum) + "u /* " + std::to_string(archive.sum) +
          " */\n"
          "#define ARCHIVE_SIZE " +
          std::to_string(archive.bytes.size()) + "\n";
      header.emplace(options.header);
      header->Write(std::span((const uint8_t*)text.data(), text.size()));
    }
    out.Commit();
    if (header) header->Commit();
    return EXIT_OK;
  });
}

int Verify(const Options& options) {
  std::optional<ScanReport> scanned;
  std::vector<Problem> problems;
  auto fail = [&](const Problem& problem, const std::string& file) {
    Report(file, Describe(problem));
    problems.push_back(problem);
    if (file != options.input) problems.back().text = file + ": " + problem.text;
  };
  try {
    InputFile input(options.input);
    std::span<const uint8_t> data = input.bytes();
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
      printf("sum  %s (%u)\n", HexSum(scan.sum).c_str(), scan.sum);
    }
    for (const Problem& problem : scan.problems) fail(problem, options.input);
    if (options.expectSum && *options.expectSum != scan.sum)
      fail({Fault::SumNotExpected, -1, 0, scan.sum, *options.expectSum}, options.input);
    if (!options.expectArchive.empty()) {
      InputFile expectedFile(options.expectArchive);
      std::span<const uint8_t> expected = expectedFile.bytes();
      ScanReport own = ScanArchive(expected);
      if (!own.markerFound || own.segments.size() != SEGMENT_COUNT) {
        throw FileError(options.expectArchive, "not an archive");
      }
      // The archive proper: from its opening marker through its closing marker.
      const ScannedSegment& last = own.segments.back();
      size_t end = (size_t)(last.offset + last.bodyLength) + MARKER_LENGTH;
      std::span<const uint8_t> proper = expected.subspan(own.firstMarker, end - own.firstMarker);
      bool carried =
          scan.markerFound && data.size() >= scan.firstMarker + proper.size() &&
          std::equal(proper.begin(), proper.end(), data.begin() + (ptrdiff_t)scan.firstMarker);
      if (!carried) {
        fail({Fault::ArchiveNotCarried, -1, scan.firstMarker, scan.markerFound ? 1u : 0u, 0,
              options.expectArchive},
             options.input);
      }
      if (own.sum != scan.sum)
        fail({Fault::SumNotArchives, -1, 0, scan.sum, own.sum}, options.input);
    }
  } catch (const FileError& e) {
    fail({Fault::Unreadable, -1, 0, 0, 0, e.what()}, e.file);
  } catch (const std::exception& e) {
    fail({Fault::Unreadable, -1, 0, 0, 0, e.what()}, options.input);
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
