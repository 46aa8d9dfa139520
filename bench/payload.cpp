#include "bench/payload.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string_view>

#include "engine/archive_format.h"

namespace vexa::bench {
namespace {

static_assert(kPayloadRows == SEGMENT_COUNT);

using Bytes = std::vector<uint8_t>;

// splitmix64: tiny, seedable, and the same on every platform.
class Rng {
 public:
  explicit Rng(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  uint32_t Below(uint32_t n) { return (uint32_t)(Next() % n); }
  uint32_t Range(uint32_t lo, uint32_t hi) { return lo + Below(hi - lo + 1); }
  template <class T, size_t N>
  const T& Pick(const T (&items)[N]) {
    return items[Below(N)];
  }

 private:
  uint64_t state_;
};

// Appends up to limit bytes from the start of path; returns how many.
size_t AppendPrefix(const std::string& path, size_t limit, Bytes& out) {
  FILE* f = fopen(path.c_str(), "rb");
  if (f == nullptr) return 0;
  size_t old = out.size();
  out.resize(old + limit);
  size_t n = fread(out.data() + old, 1, limit, f);
  fclose(f);
  out.resize(old + n);
  return n;
}

void Put16(Bytes& out, uint32_t v) {
  out.push_back((uint8_t)v);
  out.push_back((uint8_t)(v >> 8));
}
void Put32(Bytes& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}
void PutText(Bytes& out, std::string_view s) { out.insert(out.end(), s.begin(), s.end()); }

// ---- x86 code: real i386 PE images, Wine DLLs with little resource data, in name order.

constexpr const char* kWineDir = "/usr/lib/i386-linux-gnu/wine/i386-windows/";
constexpr const char* kCodeImages[] = {
    "d2d1.dll", "gdi32.dll", "ntdll.dll", "oleaut32.dll", "quartz.dll", "windowscodecs.dll",
};
// Row 0 starts this far into the first image, inside its code, and runs on through the next
// images, as a program's own code and data do; the head of one DLL is headers, code and
// export tables, not what a shipped program looks like.
constexpr size_t kRow0Start = 100000;

uint32_t Get32(const Bytes& b, size_t at) {
  return at + 4 > b.size() ? 0
                           : (uint32_t)b[at] | (uint32_t)b[at + 1] << 8 |
                                 (uint32_t)b[at + 2] << 16 | (uint32_t)b[at + 3] << 24;
}

// The image as strip leaves it: everything up to the end of the last section that is not
// debug information (Wine's DLLs carry it in ".debug*" sections, named "/N" in the table).
// Empty when the file is missing or not a PE image.
Bytes StrippedImage(const std::string& path) {
  Bytes file;
  AppendPrefix(path, 64 << 20, file);
  uint32_t pe = Get32(file, 0x3C);
  if (file.size() < 0x40 || Get32(file, pe) != 0x00004550) return {};
  unsigned sections = file[pe + 6] | file[pe + 7] << 8;
  unsigned optional = file[pe + 20] | file[pe + 21] << 8;
  size_t table = pe + 24 + optional, end = 0;
  for (unsigned s = 0; s < sections; s++) {
    size_t at = table + 40 * (size_t)s;
    if (at + 40 > file.size()) return {};
    bool debug = file[at] == '/' || std::string_view((const char*)&file[at], 6) == ".debug";
    if (!debug) end = std::max<size_t>(end, (size_t)Get32(file, at + 20) + Get32(file, at + 16));
  }
  if (end == 0 || end > file.size()) return {};
  file.resize(end);
  return file;
}

Bytes TileVector(size_t size) {
  Bytes tile;
  AppendPrefix(std::string(VEXA_VECTOR_DIR) + "/x86_300k.bin", 1 << 20, tile);
  if (tile.empty()) throw std::runtime_error("no x86 code: neither Wine's DLLs nor x86_300k.bin");
  Bytes out;
  while (out.size() < size)
    out.insert(out.end(), tile.begin(),
               tile.begin() + (ptrdiff_t)std::min(tile.size(), size - out.size()));
  return out;
}

// Row 0 is cut from the stripped images laid end to end, from kRow0Start on; row 1 is the
// head of the next image not yet touched, so it begins with a PE header.
void MakeCode(Payload& p) {
  constexpr size_t kImages = std::size(kCodeImages);
  size_t next = 0;
  for (int row = 0; row < 2; row++) {
    size_t size = kPayloadSizes[row];
    size_t skip = row == 0 ? kRow0Start : 0;
    Bytes out;
    std::string names;
    while (out.size() < size && next < kImages) {
      Bytes image = StrippedImage(std::string(kWineDir) + kCodeImages[next++]);
      if (image.size() <= skip) continue;
      size_t take = std::min(image.size() - skip, size - out.size());
      out.insert(out.end(), image.begin() + (ptrdiff_t)skip,
                 image.begin() + (ptrdiff_t)(skip + take));
      if (!names.empty()) names += '+';
      names += kCodeImages[next - 1];
      if (skip > 0) names += " from byte " + std::to_string(skip);
      skip = 0;
    }
    if (out.size() < size) {
      out = TileVector(size);
      names = "x86_300k.bin tiled";
    } else {
      names += ", stripped";
    }
    if (row > 0) p.codeSource += "; ";
    p.codeSource += std::string(TargetFileTable[row]) + " <- " + names;
    p.files[row] = std::move(out);
  }
}

// ---- English text.

constexpr const char* kLicenceDir = "/usr/share/common-licenses/";
constexpr const char* kLicences[] = {"Apache-2.0", "GPL-3", "LGPL-2.1", "MPL-2.0"};

// Used only when the licence texts are missing: plain sentences from a small vocabulary.
std::string PseudoEnglish(size_t size, uint64_t seed) {
  static const char* const kWords[] = {
      "the",     "program",  "file",    "you",   "may",      "copy",       "and",       "of",
      "to",      "in",       "a",       "setup", "installs", "each",       "directory", "before",
      "version", "new",      "changes", "this",  "release",  "fixed",      "window",    "when",
      "is",      "not",      "with",    "list",  "for",      "user",       "menu",      "option",
      "now",     "can",      "be",      "from",  "server",   "connection", "works",     "on",
      "help",    "text",     "that",    "all",   "files",    "are",        "which",     "after",
      "default", "settings",
  };
  Rng rng(seed);
  std::string out;
  size_t column = 0;
  while (out.size() < size) {
    int sentences = (int)rng.Range(2, 6);
    for (int s = 0; s < sentences; s++) {
      int words = (int)rng.Range(5, 16);
      for (int w = 0; w < words; w++) {
        std::string word = rng.Pick(kWords);
        if (w == 0) word[0] = (char)(word[0] - 'a' + 'A');
        if (w == words - 1) word += '.';
        if (column > 0 && column + word.size() + 1 > 72) {
          out += '\n';
          column = 0;
        } else if (column > 0) {
          out += ' ';
          column++;
        }
        out += word;
        column += word.size();
      }
    }
    out += "\n\n";
    column = 0;
  }
  return out;
}

void MakeTextPool(Payload& p, std::string& pool) {
  for (const char* name : kLicences) {
    Bytes text;
    if (AppendPrefix(std::string(kLicenceDir) + name, 1 << 20, text) == 0) continue;
    pool.append(text.begin(), text.end());
    if (!p.textSource.empty()) p.textSource += '+';
    p.textSource += name;
  }
  if (pool.size() < kPayloadSizes[4] + kPayloadSizes[5]) {
    pool = PseudoEnglish(1 << 16, 0x7E47);
    p.textSource = "generated sentences";
  }
}

// ---- Help files: text topics between binary tables and small records.

Bytes MakeHelp(size_t size, uint64_t seed, const std::string& pool) {
  Rng rng(seed);
  Bytes out = {'V', 'X', 'H', 'F'};
  Put16(out, 3);
  Put16(out, 0);
  Put32(out, (uint32_t)size);
  Put32(out, 0x40);
  uint32_t topic = 1;
  uint32_t offset = 0x40;
  while (out.size() < size) {
    uint32_t kind = rng.Below(100);
    if (kind < 45) {
      // A topic: a record header, then a paragraph from the text, NUL-terminated.
      size_t from = pool.find("\n\n", rng.Below((uint32_t)pool.size()));
      if (from == std::string::npos) from = 0;
      from += 2;
      size_t length = rng.Range(150, 1200);
      size_t end = pool.find(". ", std::min(pool.size(), from + length));
      end = end == std::string::npos ? pool.size() : end + 1;
      std::string_view para(pool.data() + from, end - from);
      Put16(out, 0x20);
      Put16(out, (uint32_t)para.size() + 1);
      Put32(out, topic++);
      PutText(out, para);
      out.push_back(0);
    } else if (kind < 65) {
      // An offset table: ascending 32-bit positions.
      uint32_t count = rng.Range(16, 128);
      Put16(out, 0x31);
      Put16(out, count);
      for (uint32_t i = 0; i < count; i++) Put32(out, offset += rng.Range(8, 600));
    } else if (kind < 85) {
      // Fixed-size records: id, flags, position, and two small coordinates.
      static const uint16_t kFlags[] = {0x0000, 0x0001, 0x0004, 0x0011, 0x0100, 0x8000};
      uint32_t count = rng.Range(8, 64);
      Put16(out, 0x42);
      Put16(out, count * 12);
      uint32_t where = offset;
      for (uint32_t i = 0; i < count; i++) {
        Put16(out, topic + i);
        Put16(out, rng.Pick(kFlags));
        Put32(out, where += rng.Range(16, 400));
        Put16(out, rng.Range(0, 640));
        Put16(out, rng.Range(0, 48) * 12);
      }
    } else {
      // A keyword index: sorted words from the text with a count and a topic number.
      uint32_t count = rng.Range(10, 40);
      std::vector<std::string> words;
      for (uint32_t i = 0; i < count; i++) {
        size_t at = pool.find(' ', rng.Below((uint32_t)pool.size()));
        if (at == std::string::npos) continue;
        size_t end = pool.find_first_of(" \n.,;:()\"", at + 1);
        if (end == std::string::npos || end - at < 4) continue;
        words.emplace_back(pool, at + 1, end - at - 1);
      }
      std::sort(words.begin(), words.end());
      Put16(out, 0x53);
      Put16(out, (uint32_t)words.size());
      for (const std::string& w : words) {
        PutText(out, w);
        out.push_back(0);
        Put16(out, rng.Range(1, 9));
        Put32(out, rng.Range(1, topic));
      }
    }
    if (out.size() & 1) out.push_back(0);  // records start on even offsets
  }
  out.resize(size);
  return out;
}

// ---- Ini files with CR LF line ends.

std::string Word(Rng& rng) {
  static const char* const kParts[] = {"net",  "soft", "data", "link", "mail",  "news", "file",
                                       "web",  "host", "info", "tech", "star",  "blue", "open",
                                       "zone", "site", "base", "max",  "micro", "arch"};
  std::string w = rng.Pick(kParts);
  if (rng.Below(2)) w += rng.Pick(kParts);
  return w;
}

std::string Capital(std::string w) {
  w[0] = (char)(w[0] - 'a' + 'A');
  return w;
}

std::string MakeIni(int row, size_t size, uint64_t seed) {
  Rng rng(seed);
  std::string out = "; " + std::string(TargetFileTable[row]) + "\r\n\r\n";
  auto line = [&](const std::string& key, const std::string& value) {
    out += key + "=" + value + "\r\n";
  };
  static const char* const kBool[] = {"0", "1"};
  static const char* const kDirs[] = {"DOWNLOAD", "UPLOAD", "TEMP", "LOG", "CACHE", "SCRIPTS"};
  static const char* const kMenus[] = {"File",     "Edit",   "View", "Session",
                                       "Transfer", "Window", "Help"};
  static const char* const kVerbs[] = {
      "&Open", "&Save",  "Save &As", "&Connect",  "&Disconnect", "Re&fresh", "&Options", "&Print",
      "E&xit", "&About", "&Upload",  "&Download", "&Rename",     "De&lete",  "&Find"};
  for (int section = 1; out.size() < size; section++) {
    switch (row) {
      case 6: {  // program settings
        static const char* const kSections[] = {"Options", "Window",   "Paths",
                                                "Colors",  "Transfer", "Log"};
        out += "[" + std::string(kSections[(section - 1) % std::size(kSections)]) + "]\r\n";
        int keys = (int)rng.Range(3, 8);
        for (int k = 0; k < keys; k++) {
          switch (rng.Below(4)) {
            case 0:
              line(Capital(Word(rng)), rng.Pick(kBool));
              break;
            case 1:
              line(Capital(Word(rng)) + "Size", std::to_string(rng.Range(1, 65535)));
              break;
            case 2:
              line(std::string(rng.Pick(kDirs)) + "Dir",
                   "C:\\VEXA\\" + std::string(rng.Pick(kDirs)));
              break;
            default:
              line(Capital(Word(rng)) + "Pos",
                   std::to_string(rng.Range(0, 800)) + "," + std::to_string(rng.Range(0, 600)));
              break;
          }
        }
        break;
      }
      case 7: {  // keyboard macros
        out += "[Macro" + std::to_string(section) + "]\r\n";
        line("Name", Capital(Word(rng)));
        line("Keys", "^" + std::string(1, (char)('A' + rng.Below(26))) + "{ENTER}");
        break;
      }
      case 8: {  // menus
        out += "[Menu" + std::string(kMenus[(section - 1) % std::size(kMenus)]) + "]\r\n";
        int items = (int)rng.Range(3, 9);
        for (int i = 1; i <= items; i++) {
          std::string verb = rng.Pick(kVerbs);
          std::string id = "ID_";
          for (char c : verb)
            if (c != '&' && c != ' ') id += (char)(c >= 'a' ? c - 'a' + 'A' : c);
          line("Item" + std::to_string(i),
               verb + "," + id + "," + std::to_string(100 * section + i));
        }
        break;
      }
      case 9: {  // saved sites
        static const char* const kTlds[] = {".example.com", ".example.org", ".example.net"};
        std::string name = Word(rng);
        out += "[Site" + std::to_string(section) + "]\r\n";
        line("Name", Capital(name) + " " + Capital(Word(rng)));
        line("Host", (rng.Below(3) ? "ftp." : "www.") + name + rng.Pick(kTlds));
        line("Port", rng.Below(5) ? "21" : std::to_string(rng.Range(1024, 9999)));
        line("User", rng.Below(2) ? "anonymous" : Word(rng) + std::to_string(rng.Range(1, 99)));
        line("Dir", "/pub/" + Word(rng) + (rng.Below(2) ? "/" + Word(rng) : ""));
        line("Passive", rng.Pick(kBool));
        line("LastVisit", std::to_string(rng.Range(1, 28)) + "/" +
                              std::to_string(rng.Range(1, 12)) + "/" +
                              std::to_string(rng.Range(1994, 1999)));
        break;
      }
      default: {  // links
        out += "[Links" + std::to_string(section) + "]\r\n";
        int links = (int)rng.Range(2, 5);
        for (int i = 1; i <= links; i++) {
          std::string name = Word(rng);
          line("Link" + std::to_string(i), Capital(name) + "|http://www." + name + ".example.com/");
        }
        break;
      }
    }
    out += "\r\n";
  }
  out.resize(size);
  out[size - 2] = '\r';
  out[size - 1] = '\n';
  return out;
}

Payload Build() {
  Payload p;
  p.files.resize(kPayloadRows);
  MakeCode(p);
  std::string pool;
  MakeTextPool(p, pool);
  p.files[2] = MakeHelp(kPayloadSizes[2], 0x4C50, pool);
  p.files[3] = MakeHelp(kPayloadSizes[3], 0x5052, pool);
  p.files[4].assign(pool.begin(), pool.begin() + (ptrdiff_t)kPayloadSizes[4]);
  p.files[5].assign(pool.begin() + (ptrdiff_t)kPayloadSizes[4],
                    pool.begin() + (ptrdiff_t)(kPayloadSizes[4] + kPayloadSizes[5]));
  for (int row = 6; row < 11; row++) {
    std::string ini = MakeIni(row, kPayloadSizes[row], 0x1A1 + (uint64_t)row);
    p.files[row].assign(ini.begin(), ini.end());
  }
  for (size_t row = 0; row < kPayloadRows; row++) {
    if (p.files[row].size() != kPayloadSizes[row])
      throw std::logic_error("payload row has the wrong size");
  }
  return p;
}

}  // namespace

const Payload& GetPayload() {
  static const Payload payload = Build();
  return payload;
}

size_t PayloadBytes() {
  size_t total = 0;
  for (size_t s : kPayloadSizes) total += s;
  return total;
}

void WritePayload(const std::string& dir) {
  std::filesystem::create_directories(dir);
  const Payload& p = GetPayload();
  for (size_t row = 0; row < kPayloadRows; row++) {
    std::string path = (std::filesystem::path(dir) / TargetFileTable[row]).string();
    FILE* f = fopen(path.c_str(), "wb");
    if (f == nullptr) throw std::runtime_error("cannot create " + path);
    bool ok = fwrite(p.files[row].data(), 1, p.files[row].size(), f) == p.files[row].size();
    ok = (fclose(f) == 0) && ok;
    if (!ok) throw std::runtime_error("cannot write " + path);
  }
}

}  // namespace vexa::bench
