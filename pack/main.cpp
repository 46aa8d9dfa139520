// vexa-pack: turns the eleven payload files into the installer's archive, and checks
// archives and finished installers the way the installer reads them.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/archive_format.h"
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
    "  verify FILE [--expect-sum N] [--expect-archive ARCHIVE] [--json]\n"
    "                                         read FILE as the installer does, list its\n"
    "                                         segments and check them\n"
    "  list FILE [--expect-sum N] [--json]    show what a finished installer or an archive\n"
    "                                         carries and whether its sum is the expected one\n"
    "  extract FILE -d DIR [--force] [--expect-sum N]\n"
    "                                         write the eleven files FILE carries into DIR\n"
    "\n"
    "Run 'vexa-pack COMMAND --help' for the details of one command.\n"
    "\n"
    "Exit status: 0 success; 1 a file could not be read or written, or a check failed;\n"
    "2 bad usage. list and extract tell failed checks apart:\n"
    "3 FILE is neither an installer nor an archive; 4 the archive is damaged (cut short,\n"
    "a segment that does not decode, no closing marker, bytes after the signature);\n"
    "5 the archive sum is not the expected one, or no expected sum is known;\n"
    "6 extract: a file in DIR is in the way.\n";

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

// The file names between the two parts come from the installer's own table.
const char kPackHelpHead[] =
    "Usage: vexa-pack pack [--greedy] DIR -o ARCHIVE [--header FILE] [--resource]\n"
    "\n"
    "Writes the payload archive of the eleven files in DIR, in this order:";
const char kPackHelpTail[] =
    "Each file must exist and hold 1 byte to 4 GiB - 1. The archive is read back as the\n"
    "installer reads it before it is written; nothing is written on any failure.\n"
    "\n"
    "  -o ARCHIVE      the archive to write\n"
    "  --header FILE   also write a C++ header defining EXPECTED_ARCHIVE_SUM, the\n"
    "                  archive's checksum, and ARCHIVE_SIZE\n"
    "  --resource      follow the archive with the marker once more and CR LF, the form\n"
    "                  the installer carries it in\n"
    "  --greedy        take the longest match at every position (faster, larger)\n";

std::string PackHelp() {
  std::string text = kPackHelpHead;
  for (int row = 0; row < SEGMENT_COUNT; row++) {
    text += row % 6 == 0 ? "\n  " : " ";
    text += TargetFileTable[row];
  }
  return text + "\n" + kPackHelpTail;
}

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
    "                             that archive begins, and reads the same sum\n"
    "  --json                     print one JSON object instead of the table (fields:\n"
    "                             file, segments, sum, expectSum, sumMatches, ok, exit,\n"
    "                             problems)\n"
    "\n"
    "Exit status: 0 every check passed; 1 FILE could not be read or a check failed;\n"
    "2 bad usage.\n";

const char kListHelp[] =
    "Usage: vexa-pack list FILE [--expect-sum N] [--json]\n"
    "\n"
    "Reads FILE, a finished installer (signed or not) or an archive written by pack, as\n"
    "the installer's scan does, without running it. Prints one line per segment (row,\n"
    "target file, offset, stored bytes with the size field, decoded bytes), then the\n"
    "archive sum and whether it matches the sum the installer carries. That sum is read\n"
    "from the installer's own record; an archive carries none, so give it with\n"
    "--expect-sum N (decimal or 0x hexadecimal). When both are known, both must match.\n"
    "A signature is found and its length checked, but not verified.\n"
    "Each problem is named on standard error as 'vexa-pack: FILE: problem'.\n"
    "\n"
    "  --expect-sum N   the sum the archive must have\n"
    "  --json           print one JSON object instead of the table (fields: file, kind,\n"
    "                   size, signed, archiveOffset, archiveEnd, segments, sum, carriedSum,\n"
    "                   expectSum, sumMatches, ok, exit, problems)\n"
    "\n"
    "Exit status:\n"
    "  0  all eleven segments decode and the sum matches\n"
    "  1  FILE could not be read\n"
    "  2  bad usage\n"
    "  3  FILE is neither an installer nor an archive\n"
    "  4  the archive is damaged: the file is cut short, a segment does not decode, the\n"
    "     closing marker is missing, marker bytes lie where the scan misreads them, or\n"
    "     bytes follow the signature\n"
    "  5  the sum differs from the expected one, or no expected sum is known\n";

const char kExtractHelp[] =
    "Usage: vexa-pack extract FILE -d DIR [--force] [--expect-sum N]\n"
    "\n"
    "Writes the eleven files that FILE (an installer or an archive) carries into DIR\n"
    "under their target names, creating DIR if needed. All or nothing: every segment is\n"
    "decoded and the sum checked as list does, the files are written under temporary\n"
    "names in DIR and then renamed into place; on any failure DIR holds only what it\n"
    "held before. Shows a progress line on standard error when that is a terminal.\n"
    "\n"
    "  -d DIR           the folder to write into\n"
    "  --force          replace files of the same names in DIR (folders are never replaced)\n"
    "  --expect-sum N   the sum the archive must have; needed for an archive\n"
    "\n"
    "Exit status: as list, and\n"
    "  1  a file in DIR could not be written\n"
    "  6  a file of a target's name is in DIR (without --force), a folder has a target's\n"
    "     name, or a target is FILE itself; nothing was written\n";

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
  const std::string packHelp = PackHelp();
  const char* help = options.command == "encode"    ? kEncodeHelp
                     : options.command == "decode"  ? kDecodeHelp
                     : options.command == "pack"    ? packHelp.c_str()
                     : options.command == "verify"  ? kVerifyHelp
                     : options.command == "list"    ? kListHelp
                     : options.command == "extract" ? kExtractHelp
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
    } else if (arg == "--json" && (options.command == "verify" || options.command == "list")) {
      options.json = true;
    } else if (arg == "-d" && options.command == "extract") {
      if (!hasValue) return Usage("-d needs a folder name", help);
      options.directory = args[++i];
    } else if (arg == "--force" && options.command == "extract") {
      options.force = true;
    } else if (arg == "--expect-sum" && (options.command == "verify" || options.command == "list" ||
                                         options.command == "extract")) {
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
  if (options.command == "list") return vexa::List(options);
  if (options.command == "extract") {
    if (options.directory.empty()) return Usage("-d DIR is required", help);
    return vexa::Extract(options);
  }
  return vexa::Verify(options);
}
