// Runs the real installer under Wine on a private X display and talks to the driver
// program (driver.exe) in the same prefix. One Session is one fresh prefix, one Xvfb,
// one installer process and one driver; its destructor ends all of them.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "protocol.h"

namespace winetest {

namespace fs = std::filesystem;

// Where the build put everything; fixed when the harness is compiled.
struct BuildPaths {
  fs::path build;        // the native build folder
  fs::path source;       // the source tree
  fs::path windows;      // the nested Windows build
  fs::path work;         // template prefix and per-session folders
  fs::path screenshots;  // page and failure screenshots
  static BuildPaths FromBuild();
};

// A hang, a refused action or a wrong answer of the driver; the message says what was
// expected and where the screenshot of that moment is.
struct HarnessError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// A process this harness started.
struct Child {
  pid_t pid = -1;
  int input = -1;   // our end of its stdin, or -1
  int output = -1;  // our end of its stdout, or -1
  int status = -1;  // raw wait status once reaped
  bool reaped = false;
};

struct SpawnOptions {
  std::vector<std::string> argv;
  std::vector<std::string> env;  // NAME=VALUE pairs set on top of this process's environment
  fs::path cwd;
  fs::path log;           // stdout and stderr go here unless piped; empty: /dev/null
  bool pipes = false;     // stdin and stdout become pipes to us
  int passFd = -1;        // handed to the child as fd 3
  bool dieWithUs = true;  // killed when this process dies
};

Child Spawn(const SpawnOptions& options);
// Waits up to timeoutMs for the child to end; true when it has (its status is kept).
bool WaitFor(Child& child, int timeoutMs);
// Ends the child by its id (SIGTERM, then SIGKILL) and reaps it.
void Stop(Child& child, int graceMs = 2000);
// Runs a command to its end; its exit code, or -1 when it took longer than timeoutMs.
int RunToEnd(const SpawnOptions& options, int timeoutMs);

// A private X server on a display it chose itself.
class Xvfb {
 public:
  Xvfb();
  ~Xvfb();
  Xvfb(const Xvfb&) = delete;
  Xvfb& operator=(const Xvfb&) = delete;
  const std::string& Display() const { return display_; }
  // Saves the whole screen as PNG; false when import failed.
  bool Screenshot(const fs::path& file) const;

 private:
  Child server_;
  std::string display_;
};

// One reply of the driver: "ok", "err" or "timeout", the rest of the first line, and the
// record lines of a listing.
struct Reply {
  std::string status;
  std::string head;
  std::vector<std::string> rows;
  bool Ok() const { return status == "ok"; }
};

// A child window of a dialog as the driver lists it.
struct Control {
  int id = 0;
  std::string cls;
  bool visible = false;
  bool enabled = false;
  int check = -1;  // -1: not a check box
  std::string text;
};

// Chooses how this host runs 32-bit Wine (natively, or under qemu-user where it cannot
// execute 32-bit code), says so in one line on stderr and puts that road's programs first
// on PATH for every Wine process started later. Once per process.
void EnterWineRoad(const BuildPaths& paths);

// A whole file as bytes; empty when it cannot be read.
std::string ReadFile(const fs::path& file);

// The template prefix, booted once per build folder and shared by every session.
fs::path EnsureTemplatePrefix(const BuildPaths& paths, const std::string& display);

class Session {
 public:
  struct Options {
    std::string name;  // names the session folder and screenshots
    bool startInstaller = true;
    // Runs on the fresh prefix copy before any Wine process has started in it.
    std::function<void(Session&)> beforeWine;
  };
  explicit Session(const Options& options);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // The installer: copied into drive_c and started there with its working folder there
  // (done by the constructor unless startInstaller was false). image, when given, is
  // written in its place; unixFolder and windowsPath put it elsewhere.
  void StartInstaller(const std::string& image = "", const fs::path& unixFolder = {},
                      const std::string& windowsPath = "C:\\vexa-setup.exe");
  // Runs "wine ARGS..." in the prefix to its end (reg, for instance); its exit code.
  int RunWine(const std::vector<std::string>& args, int timeoutMs = 60000);
  // Waits for the installer process to end; its exit code. Fails on a time-out.
  int WaitInstallerExit(int timeoutMs);
  bool InstallerRunning();
  // A second installer process from the same file and folder, as after a second double
  // click; the driver names the two wizards "wizard:1" and "wizard:2".
  void StartSecondInstaller();

  // Driver commands: fields joined by tabs.
  Reply Call(const std::vector<std::string>& fields, int replyTimeoutMs = 20000);
  // The same, but anything other than "ok" fails the session.
  Reply Must(const std::vector<std::string>& fields, int replyTimeoutMs = 20000);

  // Common steps.
  void WaitWizard(int timeoutMs = 30000);
  std::vector<Control> Controls(const std::string& dialog = "wizard");
  void Click(int id, const std::string& dialog = "wizard");
  void WaitText(int id, const std::string& text, int timeoutMs,
                const std::string& dialog = "wizard");
  int FocusId();
  std::string ControlText(int id, const std::string& dialog = "wizard");
  // A message box by caption: its text, the ids of its buttons and its owner's title.
  struct Box {
    std::string text;
    std::vector<int> buttons;
    std::string ownerTitle;
    std::string ownerClass;
  };
  Box WaitBox(const std::string& caption, int timeoutMs = 20000);
  // Presses a box's button and waits until that box has closed.
  void AnswerBox(const std::string& caption, int button);
  void WaitGone(const std::string& dialog, int timeoutMs);

  // Saves the screen; returns the file.
  fs::path Shot(const fs::path& file);
  // Takes a screenshot, adds what is open, and throws HarnessError.
  [[noreturn]] void Fail(const std::string& why);

  const fs::path& PrefixDir() const { return prefix_; }
  fs::path DriveC() const { return prefix_ / "drive_c"; }
  // The program group folder of the prefix's user ("Vexa" below the start menu).
  fs::path ProgramGroupDir() const;
  const BuildPaths& Paths() const { return paths_; }
  const std::string& Display() const { return xvfb_.Display(); }
  double SecondsSinceInstallerStart() const;
  // Keep the session folder (prefix, logs) after the session ends, for inspection.
  void KeepFolder() { keep_ = true; }

 private:
  std::vector<std::string> WineEnv() const;
  void StartDriver();
  std::string ReadLine(int timeoutMs);
  void TearDown() noexcept;

  Options options_;
  BuildPaths paths_;
  Xvfb xvfb_;
  fs::path folder_;
  fs::path prefix_;
  Child installer_;
  Child secondInstaller_;
  Child driver_;
  std::string pending_;
  std::chrono::steady_clock::time_point installerStart_;
  int failures_ = 0;
  bool keep_ = false;
};

}  // namespace winetest
