// The commands' file work: outputs that appear whole or not at all (written beside their
// destination under a hidden temporary name, renamed into place only when complete), and
// inputs seen whole.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace vexa {

// A failure that names its file; reported as "vexa-pack: <file>: <problem>".
struct FileError : std::runtime_error {
  FileError(std::string file, const std::string& problem)
      : std::runtime_error(problem), file(std::move(file)) {}
  std::string file;
};

class PendingFile {
 public:
  // Creates the temporary file ".NAME.XXXXXX" beside target; throws FileError.
  explicit PendingFile(std::filesystem::path target);
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;
  // Removes the temporary file unless it was committed.
  ~PendingFile();

  // The buffered stream to write to, until Commit.
  FILE* Stream() const { return stream_; }
  void Write(std::span<const uint8_t> bytes);  // throws FileError
  // Closes the stream, then renames the file over target; throws FileError, and on a
  // failure the temporary file is still removed by the destructor.
  void Commit();

  const std::filesystem::path& target() const { return target_; }

 private:
  void Close();

  std::filesystem::path target_;
  std::string temp_;  // empty once committed
  FILE* stream_ = nullptr;
};

// The largest file the formats' 32-bit sizes and offsets can describe.
inline constexpr uint64_t kLargestInput = UINT32_MAX;

// A file larger than kLargestInput, refused before any of it is read.
struct TooLargeError : FileError {
  TooLargeError(std::string file, uint64_t size);
  uint64_t size;
};

// An input file seen whole without being held whole: a regular file is mapped read-only,
// so its pages cost address space and come and go with the page cache; anything else (a
// pipe) is read into memory, up to kLargestInput. Throws FileError, or TooLargeError.
class InputFile {
 public:
  explicit InputFile(const std::string& path);
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  ~InputFile();

  std::span<const uint8_t> bytes() const { return {data_, size_}; }

 private:
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  bool mapped_ = false;
  std::vector<uint8_t> read_;
};

// Refuses output when it is the same file as input (a link or another name for it).
void RefuseSameFile(const std::string& input, const std::string& output);

}  // namespace vexa
