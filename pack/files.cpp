#include "pack/files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vexa {

namespace fs = std::filesystem;

PendingFile::PendingFile(fs::path target) : target_(std::move(target)) {
  fs::path folder = target_.parent_path();
  temp_ = (folder / ("." + target_.filename().string() + ".XXXXXX")).string();
  int fd = mkstemp(temp_.data());
  if (fd < 0) {
    temp_.clear();
    throw FileError(target_, strerror(errno));
  }
  fchmod(fd, 0644);
  stream_ = fdopen(fd, "wb");
  if (stream_ == nullptr) {
    int error = errno;
    close(fd);
    unlink(temp_.c_str());
    temp_.clear();
    throw FileError(target_, strerror(error));
  }
  setvbuf(stream_, nullptr, _IOFBF, 1 << 16);
}

PendingFile::~PendingFile() {
  if (stream_ != nullptr) fclose(stream_);
  if (!temp_.empty()) unlink(temp_.c_str());
}

void PendingFile::Write(std::span<const uint8_t> bytes) {
  if (fwrite(bytes.data(), 1, bytes.size(), stream_) != bytes.size())
    throw FileError(target_, strerror(errno));
}

void PendingFile::Close() {
  bool failed = ferror(stream_) != 0;
  int error = errno;
  if (fclose(stream_) != 0) {
    failed = true;
    error = errno;
  }
  stream_ = nullptr;
  if (failed) throw FileError(target_, error != 0 ? strerror(error) : "write error");
}

void PendingFile::Commit() {
  Close();
  if (rename(temp_.c_str(), target_.c_str()) != 0) throw FileError(target_, strerror(errno));
  temp_.clear();
}

std::vector<uint8_t> ReadWhole(const std::string& path) {
  FILE* f = fopen(path.c_str(), "rb");
  if (f == nullptr) throw FileError(path, strerror(errno));
  struct stat info;
  bool known = fstat(fileno(f), &info) == 0;
  if (known && S_ISDIR(info.st_mode)) {
    fclose(f);
    throw FileError(path, "a folder, not a file");
  }
  std::vector<uint8_t> bytes;
  // Sized once where the size is known, rather than grown to twice the file.
  if (known && S_ISREG(info.st_mode)) bytes.reserve((size_t)info.st_size);
  uint8_t chunk[1 << 16];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
  bool failed = ferror(f);
  fclose(f);
  if (failed) throw FileError(path, "read error");
  return bytes;
}

void RefuseSameFile(const std::string& input, const std::string& output) {
  std::error_code error;
  if (fs::exists(output, error) && fs::equivalent(input, output, error)) {
    throw FileError(output, "refusing to overwrite the input");
  }
}

}  // namespace vexa
