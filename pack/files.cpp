#include "pack/files.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "pack/problems.h"

namespace vexa {

namespace fs = std::filesystem;

PendingFile::PendingFile(fs::path target) : target_(std::move(target)) {
  fs::path folder = target_.parent_path();
  std::string name = ".";  // built by appends: GCC 12 misreads "." + string as an overlap
  name += target_.filename().string();
  name += ".XXXXXX";
  temp_ = (folder / name).string();
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

TooLargeError::TooLargeError(std::string file, uint64_t size)
    : FileError(std::move(file), Describe({Fault::TooLarge, -1, 0, size})), size(size) {}

InputFile::InputFile(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw FileError(path, strerror(errno));
  struct stat info;
  if (fstat(fd, &info) != 0) {
    int error = errno;
    close(fd);
    throw FileError(path, strerror(error));
  }
  if (S_ISDIR(info.st_mode)) {
    close(fd);
    throw FileError(path, "a folder, not a file");
  }
  if (S_ISREG(info.st_mode)) {
    if ((uint64_t)info.st_size > kLargestInput) {
      close(fd);
      throw TooLargeError(path, (uint64_t)info.st_size);
    }
    size_ = (size_t)info.st_size;
    if (size_ > 0) {
      void* map = mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd, 0);
      if (map == MAP_FAILED) {
        int error = errno;
        close(fd);
        throw FileError(path, strerror(error));
      }
      madvise(map, size_, MADV_SEQUENTIAL);
      data_ = static_cast<const uint8_t*>(map);
      mapped_ = true;
    }
    close(fd);
    return;
  }
  uint8_t chunk[1 << 16];
  ssize_t n;
  while ((n = read(fd, chunk, sizeof chunk)) > 0) {
    read_.insert(read_.end(), chunk, chunk + n);
    if (read_.size() > kLargestInput) {
      close(fd);
      throw TooLargeError(path, read_.size());
    }
  }
  int error = errno;
  close(fd);
  if (n < 0) throw FileError(path, strerror(error));
  data_ = read_.data();
  size_ = read_.size();
}

InputFile::~InputFile() {
  if (mapped_) munmap(const_cast<uint8_t*>(data_), size_);
}

void RefuseSameFile(const std::string& input, const std::string& output) {
  std::error_code error;
  if (fs::exists(output, error) && fs::equivalent(input, output, error)) {
    throw FileError(output, "refusing to overwrite the input");
  }
}

}  // namespace vexa
