// vexa-pack: turns the eleven payload files into the installer's archive, and checks
// archives and finished installers the way the installer reads them.
#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
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
    "  build DIR -o FILE [--stub STUB] [--licence TEXT] [--greedy]\n"
    "                                         write a finished installer of the eleven\n"
    "                                         files in DIR\n"
    "\n"
    "Run 'vexa-pack COMMAND --help' for the details of one command;\n"
    "'vexa-pack --version' prints the version.\n"
    "\n"
    "Exit status: 0 success; 1 a file could not be read or written, or a check failed;\n"
    "2 bad usage. list and extract tell failed checks apart:\n"
    "3 FILE is neither an installer nor an archive; 4 the archive is damaged (cut short,\n"
    "a segment that does not decode, no closing marker, bytes after the signature);\n"
    "5 the archive sum is not the expected one, or no expected sum is known;\n"
    "6 extract: a file in DIR is in the way; 7 build: STUB is not an installer stub.\n";

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

std::string TargetNames() {
  std::string text;
  for (int row = 0; row < SEGMENT_COUNT; row++) {
    text += row % 6 == 0 ? "\n  " : " ";
    text += TargetFileTable[row];
  }
  return text + "\n";
}

std::string PackHelp() { return kPackHelpHead + TargetNames() + kPackHelpTail; }

const char kVerifyHelp[] =
    "Usage: vexa-pack verify FILE [--expect-sum N] [--expect-archive ARCHIVE] [--json]\n"
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

// The file names after the head come from the installer's own table, as in pack's text.
const char kBuildHelpHead[] =
    "Usage: vexa-pack build DIR -o FILE [--stub STUB] [--licence TEXT] [--greedy]\n"
    "\n"
    "Builds a finished installer from the prebuilt stub and the eleven files in DIR, in\n"
    "this order:";
const char kBuildHelpTail[] =
    "Packs DIR as pack does; writes the archive (RCDATA 4) and, with --licence, the\n"
    "licence text (RCDATA 3) into a copy of the stub, rebuilding its resource section;\n"
    "fills the installer's sum record; reads the result back exactly as the installer's\n"
    "scan does, then renames it into place. Nothing is written on any failure.\n"
    "\n"
    "  -o FILE          the installer to write\n"
    "  --stub STUB      the stub to build on; without it, the stub installed with the\n"
    "                   tool: vexa-stub.exe beside the program, or\n"
    "                   ../share/vexa-pack/vexa-stub.exe relative to it\n"
    "  --licence TEXT   the text file the installer carries as its licence (RCDATA 3);\n"
    "                   the page shows it up to its first \"***\", at most 2999 bytes,\n"
    "                   and it must not hold the segment marker\n"
    "  --greedy         take the longest match at every position (faster, larger)\n"
    "\n"
    "Exit status:\n"
    "  0  the installer was written\n"
    "  1  a file of DIR is missing or unreadable, TEXT is not a licence the page can\n"
    "     show whole, or FILE could not be written\n"
    "  2  bad usage\n"
    "  7  STUB is not an installer stub: not a 32-bit GUI Windows program, no sum\n"
    "     placeholder, signed, already holding an archive, or a resource section that\n"
    "     cannot be rebuilt\n";

std::string BuildHelp() { return kBuildHelpHead + TargetNames() + kBuildHelpTail; }

bool ParseSum(const std::string& text, uint32_t* sum) {
  if (text.empty() || text[0] == '-') return false;
  char* end = nullptr;
  errno = 0;
  unsigned long long value = strtoull(text.c_str(), &end, 0);
  if (errno != 0 || *end != '\0' || value > UINT32_MAX) return false;
  *sum = (uint32_t)value;
  return true;
}

// CLI11 shows our hand-written texts, not a help of its own making.
class FixedHelp : public CLI::FormatterBase {
 public:
  explicit FixedHelp(std::string text) : text_(std::move(text)) {}
  std::string make_help(const CLI::App* /*app*/, std::string /*name*/,
                        CLI::AppFormatMode /*mode*/) const override {
    return text_;
  }

 private:
  std::string text_;
};

// Turns argv into Options. A command line that asks for help or the version, or that
// is wrong, ends in a status to exit with instead.
class CommandLine {
 public:
  CommandLine()
      : app_("Builds and checks the payload archive of the Vexa installer.", "vexa-pack") {
    app_.formatter(std::make_shared<FixedHelp>(kUsage));
    app_.set_help_flag("-h,--help");
    app_.set_version_flag("--version", std::string("vexa-pack ") + VEXA_VERSION);
    app_.allow_extras();  // named in our words below, not CLI11's
    // One command per run: after it, a command's name is a file name like any other.
    app_.require_subcommand(0, 1);

    Command("help", kUsage);
    CLI::App* encode = Command("encode", kEncodeHelp);
    Greedy(encode);
    Command("decode", kDecodeHelp);
    CLI::App* pack = Command("pack", PackHelp());
    Greedy(pack);
    Value(pack, "-o", &options_.output, "-o needs a file name");
    Value(pack, "--header", &options_.header, "--header needs a file name");
    pack->add_flag("--resource", options_.resource);
    CLI::App* verify = Command("verify", kVerifyHelp);
    Sum(verify);
    Value(verify, "--expect-archive", &options_.expectArchive,
          "--expect-archive needs a file name");
    verify->add_flag("--json", options_.json);
    CLI::App* list = Command("list", kListHelp);
    Sum(list);
    list->add_flag("--json", options_.json);
    CLI::App* extract = Command("extract", kExtractHelp);
    Value(extract, "-d", &options_.directory, "-d needs a folder name");
    extract->add_flag("--force", options_.force);
    Sum(extract);
    CLI::App* build = Command("build", BuildHelp());
    Value(build, "-o", &options_.output, "-o needs a file name");
    Value(build, "--stub", &options_.stub, "--stub needs a file name");
    Value(build, "--licence", &options_.licence, "--licence needs a file name");
    Greedy(build);
  }

  // The options of a command to run, or the status to exit with at once.
  std::optional<int> Parse(int argc, char** argv) {
    try {
      app_.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
      if (Selected() == nullptr && !Extras(app_).empty()) return UnknownCommand();
      fputs(app_.help().c_str(), stdout);  // the selected command's text
      return vexa::EXIT_OK;
    } catch (const CLI::CallForVersion& e) {
      printf("%s\n", e.what());
      return vexa::EXIT_OK;
    } catch (const CLI::ParseError& e) {
      const CLI::App* command = Selected();
      return Usage(Needs(e), command != nullptr ? *command : app_);
    }
    const CLI::App* command = Selected();
    if (command == nullptr) {
      return Extras(app_).empty() ? Usage("no command given", app_) : UnknownCommand();
    }
    options_.command = command->get_name();
    if (options_.command == "help") {
      fputs(kUsage, stdout);
      return vexa::EXIT_OK;
    }
    // An unknown option after the command, or any before it (those belong to none).
    for (const CLI::App* app : {static_cast<const CLI::App*>(&app_), command}) {
      std::vector<std::string> extras = Extras(*app);
      if (!extras.empty()) return Usage("unknown option '" + extras[0] + "'", *app);
    }
    return Arrange(*command);
  }

  const Options& options() const { return options_; }

 private:
  CLI::App* Command(const char* name, std::string help) {
    CLI::App* command = app_.add_subcommand(name);
    command->formatter(std::make_shared<FixedHelp>(std::move(help)));
    command->allow_extras();
    // Every word that is not an option; each command counts its own.
    command->add_option("ARGS", positional_);
    return command;
  }

  // A repeated option takes its last value, as it always has.
  void Value(CLI::App* command, const std::string& name, std::string* value, const char* needs) {
    command->add_option(name, *value)->take_last();
    needs_[name] = needs;
  }

  // Every --expect-sum given is checked; the last one counts.
  void Sum(CLI::App* command) {
    const char* name = "--expect-sum";
    auto number = [](std::string& text) {
      uint32_t sum = 0;
      return ParseSum(text, &sum) ? std::string() : std::string("not a sum");
    };
    command
        ->add_option_function<std::string>(name,
                                           [this](const std::string& text) {
                                             uint32_t sum = 0;
                                             ParseSum(text, &sum);
                                             options_.expectSum = sum;
                                           })
        ->check(CLI::Validator(number, "N"))
        ->take_last();
    needs_[name] = "--expect-sum needs a number from 0 to 4294967295";
  }

  void Greedy(CLI::App* command) {
    command->add_flag_callback("--greedy", [this] { options_.parse = vexa::Parse::Greedy; });
  }

  const CLI::App* Selected() const {
    std::vector<CLI::App*> selected = app_.get_subcommands();
    return selected.empty() ? nullptr : selected[0];
  }

  // What CLI11 left over, but for the "--" that ends the options.
  static std::vector<std::string> Extras(const CLI::App& app) {
    std::vector<std::string> extras;
    for (const std::string& arg : app.remaining()) {
      if (arg != "--") extras.push_back(arg);
    }
    return extras;
  }

  // CLI11 names the option first in the errors of a missing or bad value: say what the
  // option needs, as always. Anything else keeps CLI11's words.
  std::string Needs(const CLI::ParseError& e) const {
    std::string message = e.what();
    auto found = needs_.find(message.substr(0, message.find(':')));
    return found != needs_.end() ? found->second : message;
  }

  int UnknownCommand() const { return Usage("unknown command '" + Extras(app_)[0] + "'", app_); }

  // One line for the problem, then the command's usage line and where to read more.
  static int Usage(const std::string& problem, const CLI::App& command) {
    std::string help = command.get_formatter()->make_help(&command, "", CLI::AppFormatMode::Normal);
    std::string name = command.get_parent() != nullptr ? command.get_name() + " " : "";
    fprintf(stderr, "vexa-pack: %s\n%s\nRun 'vexa-pack %s--help' for more.\n", problem.c_str(),
            help.substr(0, help.find('\n')).c_str(), name.c_str());
    return vexa::EXIT_USAGE;
  }

  // The words of the command line in their places.
  std::optional<int> Arrange(const CLI::App& command) {
    const std::string& name = options_.command;
    if (name == "encode" || name == "decode") {
      if (positional_.size() != 2) return Usage("expected IN and OUT", command);
      options_.input = positional_[0];
      options_.output = positional_[1];
      return std::nullopt;
    }
    if (name == "pack" || name == "build") {
      if (positional_.size() != 1) return Usage("expected one folder DIR", command);
      if (options_.output.empty()) {
        return Usage(name == "pack" ? "-o ARCHIVE is required" : "-o FILE is required", command);
      }
      options_.input = positional_[0];
      return std::nullopt;
    }
    if (positional_.size() != 1) return Usage("expected one FILE", command);
    if (name == "extract" && options_.directory.empty()) {
      return Usage("-d DIR is required", command);
    }
    options_.input = positional_[0];
    return std::nullopt;
  }

  CLI::App app_;
  Options options_;
  std::vector<std::string> positional_;
  std::map<std::string, std::string> needs_;  // option name: the problem its missing value is
};

int Run(const Options& options) {
  const std::string& command = options.command;
  if (command == "encode") return vexa::Encode(options);
  if (command == "decode") return vexa::Decode(options);
  if (command == "pack") return vexa::Pack(options);
  if (command == "verify") return vexa::Verify(options);
  if (command == "list") return vexa::List(options);
  if (command == "extract") return vexa::Extract(options);
  return vexa::Build(options);
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  try {
    CommandLine commandLine;
    if (std::optional<int> status = commandLine.Parse(argc, argv)) return *status;
    options = commandLine.options();
  } catch (const std::exception& e) {
    // A fault in the table of options itself, never anything typed.
    fprintf(stderr, "vexa-pack: %s\n", e.what());
    return vexa::EXIT_FAILURE_;
  }
  return Run(options);
}
