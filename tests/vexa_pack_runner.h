// Runs vexa-pack through the shell as a release engineer does, with both streams captured.
#pragma once

#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/test_files.h"

namespace packcli {

struct Result {
  int exit;
  std::string out, err;
};

inline std::string Quote(const std::string& arg) {
  std::string quoted = "'";
  for (char c : arg) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// shellPrefix runs first in the same shell, e.g. to set a limit the tool inherits.
inline Result VexaPack(const testfiles::TempDir& dir, const std::vector<std::string>& args,
                       const std::string& shellPrefix = "") {
  std::string command = shellPrefix + Quote(VEXA_PACK);
  for (const auto& a : args) {
    command += ' ';
    command += Quote(a);
  }
  std::filesystem::path out = dir / "stdout.txt", err = dir / "stderr.txt";
  command.append(" >").append(Quote(out)).append(" 2>").append(Quote(err));
  int status = std::system(command.c_str());
  testfiles::Bytes o = testfiles::Read(out), e = testfiles::Read(err);
  std::filesystem::remove(out);
  std::filesystem::remove(err);
  return {WEXITSTATUS(status), std::string(o.begin(), o.end()), std::string(e.begin(), e.end())};
}

// The output of a shell command, or nothing when it fails.
inline std::string Shell(const testfiles::TempDir& dir, const std::string& command) {
  std::filesystem::path out = dir / "shell.txt";
  int status = std::system((command + " >" + Quote(out) + " 2>/dev/null").c_str());
  testfiles::Bytes o = testfiles::Read(out);
  std::filesystem::remove(out);
  if (status != 0) return {};
  return std::string(o.begin(), o.end());
}

inline bool HaveProgram(const std::string& name) {
  return std::system(("command -v " + Quote(name) + " >/dev/null 2>&1").c_str()) == 0;
}

// Signs input into output with a throwaway certificate made in dir; false when the host
// cannot sign, and the reason in *why.
inline bool Sign(const testfiles::TempDir& dir, const std::filesystem::path& input,
                 const std::filesystem::path& output, std::string* why) {
  for (const char* tool : {"openssl", "osslsigncode"}) {
    if (!HaveProgram(tool)) {
      *why = std::string(tool) + " is not installed: nothing can be signed";
      return false;
    }
  }
  std::string d = Quote(dir.path());
  std::string sign = "cd " + d +
                     " && { [ -f key.pem ] || openssl req -x509 -newkey rsa:2048 -nodes -keyout"
                     " key.pem -out cert.pem -days 2 -subj '/CN=Vexa test signer'; } >/dev/null "
                     "2>&1 && osslsigncode sign -certs cert.pem -key key.pem -n Vexa -in " +
                     Quote(input) + " -out " + Quote(output) + " >/dev/null 2>&1";
  if (std::system(sign.c_str()) != 0) {
    *why = "signing with openssl and osslsigncode failed";
    return false;
  }
  return true;
}

// The names in dir, sorted; none when it does not exist.
inline std::vector<std::string> Listing(const std::filesystem::path& dir) {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(dir, error))
    names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace packcli
