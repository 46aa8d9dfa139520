// vexa-pack: turns the eleven payload files into the installer's archive, and checks
// archives and finished installers the way the installer reads them.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "pack/commands.h"

namespace {

using vexa::Options;

const char kUsage[] =
    "Usage: vexa-pack COMMAND [ARGS]\n"
    "\n"
    "Builds and checks the payload archive of the Vexa installer.\n"
    "\n"
    "Commands:\n"
    "  encode IN OUT                          compress one file into a segment body\n"
    "  decode IN OUT                          expand a segment body into its file\n"
    "  pack DIR -o ARCHIVE [--header FILE] [--resource]\n"
    "                                         write the archive of the eleven files in DIR\n"
    "  verify FILE [--expect-sum N] [--expect-archive ARCHIVE]\n"
    "                                         read FILE as the installer does, list its\n"
    "                                         segments and check them\n"
    "\n"
    "Run 'vexa-pack COMMAND --help' for the details of one command.\n"
    "\n"
    "Exit status: 0 success; 1 a file could not be read or written, or a check failed;\n"
    "2 bad usage.\n";

const char kEncodeHelp[] =
    "Usage: vexa-pack encode [--greedy] IN OUT\n"
    "\n"
    "Compresses IN (1 byte to 4 GiB - 1) into OUT as one segment body: the 4-byte\n"
    "little-endian size, then the LZHUF bit stream, its last byte filled with zero bits.\n"
    "The body never contains the segment marker and never ends in a part of it.\n"
    "\n"
    "  --greedy   take the longest match at every position (faster, larger)\n";

const char kDecodeHelp[] =
    "Usage: vexa-pack decode IN OUT\n"
    "\n"
    "Expands the segment body IN into OUT with the installer's decoder. Fails when the\n"
    "size field is missing or zero, or the bit stream ends before the declared size.\n";

const char kPackHelp[] =
    "Usage: vexa-pack pack [--greedy] DIR -o ARCHIVE [--header FILE] [--resource]\n"
    "\n"
    "Writes the payload archive of the eleven files in DIR, in this order:\n"
    "  vexa32.exe vxtool32.exe vexa.hlp primer.hlp about.txt history.txt\n"
    "  vexa.ini macros.ini menus.ini sites.ini links.ini\n"
    "Each file must exist and hold 1 byte to 4 GiB - 1. The archive is read back as the\n"
    "installer reads it before it is written; nothing is written on any failure.\n"
    "\n"
    "  -o ARCHIVE      the archive to write\n"
    "  --header FILE   also write a C++ header defining EXPECTED_ARCHIVE_SUM, the\n"
    "                  archive's checksum, and ARCHIVE_SIZE\n"
    "  --resource      follow the archive with the marker once more and CR LF, the form\n"
    "                  the installer carries it in\n"
    "  --greedy        take the longest match at every position (faster, larger)\n";

const char kVerifyHelp[] =
    "Usage: vexa-pack verify FILE [--expect-sum N] [--expect-archive ARCHIVE]\n"
    "\n"
    "Reads FILE, an archive or a finished installer, from its first byte exactly as the\n"
    "installer does, decodes every segment and prints row, target, offset, body length,\n"
    "declared and decoded size, then the archive checksum.\n"
    "Fails when fewer than eleven segments decode to their declared size, when marker\n"
    "bytes appear before the archive or inside a segment, when no marker closes the last\n"
    "segment, or when the checksum differs from N (decimal or 0x hexadecimal).\n"
    "\n"
    "  --expect-archive ARCHIVE   FILE must carry exactly the archive in ARCHIVE (as\n"
    "                             written by pack): the scan finds its first marker where\n"
    "                             that archive begins, and reads the same sum\n";

int Usage(const std::string& problem, const char* usage) {
  fprintf(stderr, "vexa-pack: %s\n\n%s", problem.c_str(), usage);
  return vexa::EXIT_USAGE;
}

bool ParseSum(const std::string& text, uint32_t* sum) {
  if (text.empty() || text[0] == '-') return false;
  char* end = nullptr;
  errno = 0;
  unsigned long long value = strtoull(text.c_str(), &end, 0);
  if (errno != 0 || *end != '\0' || value > UINT32_MAX) return false;
  *sum = (uint32_t)value;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return Usage("no command given", kUsage);
  Options options;
  options.command = args[0];
  if (options.command == "--help" || options.command == "-h" || options.command == "help") {
    fputs(kUsage, stdout);
    return vexa::EXIT_OK;
  }
  const char* help = options.command == "encode"   ? kEncodeHelp
                     : options.command == "decode" ? kDecodeHelp
                     : options.command == "pack"   ? kPackHelp
                     : options.command == "verify" ? kVerifyHelp
                                                   : nullptr;
  if (help == nullptr) return Usage("unknown command '" + options.command + "'", kUsage);

  std::vector<std::string> positional;
  for (size_t i = 1; i < args.size(); i++) {
    const std::string& arg = args[i];
    bool hasValue = i + 1 < args.size();
    if (arg == "--help" || arg == "-h") {
      fputs(help, stdout);
      return vexa::EXIT_OK;
    } else if (arg == "--greedy" && (options.command == "encode" || options.command == "pack")) {
      options.parse = vexa::Parse::Greedy;
    } else if (arg == "-o" && options.command == "pack") {
      if (!hasValue) return Usage("-o needs a file name", help);
      options.output = args[++i];
    } else if (arg == "--header" && options.command == "pack") {
      if (!hasValue) return Usage("--header needs a file name", help);
      options.header = args[++i];
    } else if (arg == "--resource" && options.command == "pack") {
      options.resource = true;
    } else if (arg == "--expect-archive" && options.command == "verify") {
      if (!hasValue) return Usage("--expect-archive needs a file name", help);
      options.expectArchive = args[++i];
    } else if (arg == "--expect-sum" && options.command == "verify") {
      uint32_t sum;
      if (!hasValue || !ParseSum(args[i + 1], &sum)) {
        return Usage("--expect-sum needs a number from 0 to 4294967295", help);
      }
      options.expectSum = sum;
      i++;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return Usage("unknown option '" + arg + "'", help);
    } else {
      positional.push_back(arg);
    }
  }

  if (options.command == "encode" || options.command == "decode") {
    if (positional.size() != 2) return Usage("expected IN and OUT", help);
    options.input = positional[0];
    options.output = positional[1];
    return options.command == "encode" ? vexa::Encode(options) : vexa::Decode(options);
  }
  if (options.command == "pack") {
    if (positional.size() != 1) return Usage("expected one folder DIR", help);
    if (options.output.empty()) return Usage("-o ARCHIVE is required", help);
    options.input = positional[0];
    return vexa::Pack(options);
  }
  if (positional.size() != 1) return Usage("expected one FILE", help);
  options.input = positional[0];
  return vexa::Verify(options);
}
