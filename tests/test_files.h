// Small file helpers for the native tests: fresh temporary folders and whole-file I/O.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace testfiles {

using Bytes = std::vector<uint8_t>;

inline Bytes Read(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

inline void Write(const std::filesystem::path& path, std::span<const uint8_t> bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), (std::streamsize)bytes.size());
}

inline Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

inline Bytes Random(size_t size, uint32_t seed) {
  std::mt19937 random(seed);
  Bytes bytes(size);
  for (auto& b : bytes) b = (uint8_t)random();
  return bytes;
}

#ifdef VECTOR_DIR
// A reference encoding or its decoded data. A missing file throws, so the test that needs
// it fails with the path instead of working on nothing.
inline Bytes Vector(const std::string& name) {
  std::filesystem::path path = std::filesystem::path(VECTOR_DIR) / name;
  if (!std::filesystem::is_regular_file(path))
    throw std::runtime_error("missing test data " + path.string());
  return Read(path);
}
#endif

// A new empty folder under the system's temporary folder, removed with its contents.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vexa_test_XXXXXX").string();
    path_ = mkdtemp(pattern.data());
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

}  // namespace testfiles
