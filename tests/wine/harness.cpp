#include "harness.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <thread>

namespace winetest {

std::string ReadFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

namespace {

using Clock = std::chrono::steady_clock;

// Bump when the way the template is prepared changes, so old caches are rebuilt.
const char* const TEMPLATE_RECIPE = "vexa wine-ui template 1: win32, Managed=N";
const char* const BOOT_OVERRIDES = "winemenubuilder.exe=d;mscoree=;mshtml=";
const char* const RUN_OVERRIDES = "winemenubuilder.exe=d;mscoree=;mshtml=;winhlp32.exe=n";

int MillisSince(Clock::time_point start) {
  return (int)std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

std::string ReadWhole(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> MergedEnvironment(const std::vector<std::string>& overrides) {
  std::map<std::string, std::string> vars;
  for (char** e = environ; *e != nullptr; e++) {
    std::string entry = *e;
    size_t eq = entry.find('=');
    if (eq != std::string::npos) vars[entry.substr(0, eq)] = entry.substr(eq + 1);
  }
  for (const std::string& entry : overrides) {
    size_t eq = entry.find('=');
    vars[entry.substr(0, eq)] = eq == std::string::npos ? "" : entry.substr(eq + 1);
  }
  std::vector<std::string> out;
  out.reserve(vars.size());
  for (const auto& [name, value] : vars) out.push_back(name + "=" + value);
  return out;
}

pid_t ParentOf(pid_t pid, char* state) {
  std::string stat = ReadWhole("/proc/" + std::to_string(pid) + "/stat");
  size_t close = stat.rfind(')');
  if (close == std::string::npos || close + 4 > stat.size()) return -1;
  if (state != nullptr) *state = stat[close + 2];
  return (pid_t)atoi(stat.c_str() + close + 4);
}

std::vector<pid_t> AllPids() {
  std::vector<pid_t> pids;
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return pids;
  while (dirent* entry = readdir(proc)) {
    char* end = nullptr;
    long pid = strtol(entry->d_name, &end, 10);
    if (end != entry->d_name && *end == '\0') pids.push_back((pid_t)pid);
  }
  closedir(proc);
  return pids;
}

// Every live process whose environment names this prefix: the prefix's wineserver and all
// Windows processes in it, whoever started them.
std::vector<pid_t> PrefixProcesses(const fs::path& prefix) {
  std::string needle = "WINEPREFIX=" + prefix.string();
  needle.push_back('\0');
  std::vector<pid_t> found;
  for (pid_t pid : AllPids()) {
    if (pid == getpid()) continue;
    char state = '?';
    if (ParentOf(pid, &state) < 0 || state == 'Z') continue;
    std::string env = ReadWhole("/proc/" + std::to_string(pid) + "/environ");
    env.push_back('\0');
    if (env.starts_with(needle) || env.find(std::string(1, '\0') + needle) != std::string::npos) {
      found.push_back(pid);
    }
  }
  return found;
}

// Orphans of the Wine processes come to us (child subreaper); collect the dead ones.
void ReapDeadChildren() {
  for (pid_t pid : AllPids()) {
    char state = '?';
    if (ParentOf(pid, &state) == getpid() && state == 'Z') waitpid(pid, nullptr, WNOHANG);
  }
}

// Kills what is left of a prefix by process id and waits until it is gone.
void KillPrefixLeftovers(const fs::path& prefix) {
  for (int round = 0; round < 50; round++) {
    std::vector<pid_t> left = PrefixProcesses(prefix);
    if (left.empty()) break;
    for (pid_t pid : left) kill(pid, SIGKILL);
    SleepMs(40);
    ReapDeadChildren();
  }
  ReapDeadChildren();
}

std::string Trim(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
    text.pop_back();
  return text;
}

// The installed Wine's version, part of the template's identity.
std::string WineVersion() {
  int fds[2];
  if (pipe(fds) != 0) return "unknown";
  pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], 1);
    close(fds[0]);
    close(fds[1]);
    execlp("wine", "wine", "--version", (char*)nullptr);
    _exit(127);
  }
  close(fds[1]);
  std::string out;
  char buffer[256];
  ssize_t n;
  while ((n = read(fds[0], buffer, sizeof buffer)) > 0) out.append(buffer, n);
  close(fds[0]);
  waitpid(pid, nullptr, 0);
  return Trim(out);
}

}  // namespace

void EnterWineRoad(const BuildPaths& paths) {
  static bool entered = false;
  if (entered) return;
  std::string command =
      "'" + (paths.source / "tools/wine-road.sh").string() + "' '" + paths.build.string() + "'";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) throw HarnessError("cannot start " + command);
  std::string out;
  char buffer[512];
  while (fgets(buffer, sizeof buffer, pipe) != nullptr) out += buffer;
  int status = pclose(pipe);
  size_t newline = out.find('\n');
  if (status != 0 || newline == std::string::npos)
    throw HarnessError("tools/wine-road.sh could not prepare Wine (exit status " +
                       std::to_string(status) + ")");
  std::string road = out.substr(0, newline);
  std::string bin = Trim(out.substr(newline + 1));
  fprintf(stderr, "%s\n", road.c_str());
  if (!bin.empty()) {
    const char* path = getenv("PATH");
    setenv("PATH", (bin + ":" + (path != nullptr ? path : "/usr/bin:/bin")).c_str(), 1);
  }
  entered = true;
}

BuildPaths BuildPaths::FromBuild() {
  BuildPaths p;
  const char* override = getenv("VEXA_WINE_UI_BUILD_DIR");
  p.build =
      override != nullptr && *override != '\0' ? fs::path(override) : fs::path(WINE_UI_BUILD_DIR);
  p.build = fs::absolute(p.build).lexically_normal();
  p.source = fs::path(WINE_UI_SOURCE_DIR);
  p.windows = p.build / "windows";
  p.work = p.build / "wine-ui";
  p.screenshots = p.build / "screenshots";
  return p;
}

Child Spawn(const SpawnOptions& o) {
  int in[2] = {-1, -1}, out[2] = {-1, -1};
  if (o.pipes && (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0)) {
    throw HarnessError("pipe: " + std::string(strerror(errno)));
  }
  std::vector<std::string> env = MergedEnvironment(o.env);
  std::vector<char*> envp, argv;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<std::string> args = o.argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::string log = o.log.empty() ? "/dev/null" : o.log.string();
  std::string cwd = o.cwd.string();
  pid_t parent = getpid();

  pid_t pid = fork();
  if (pid < 0) throw HarnessError("fork: " + std::string(strerror(errno)));
  if (pid == 0) {
    if (o.dieWithUs) {
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (getppid() != parent) _exit(127);
    }
    signal(SIGPIPE, SIG_DFL);
    int logFd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    int nullFd = open("/dev/null", O_RDWR);
    if (o.pipes) {
      dup2(in[0], 0);
      dup2(out[1], 1);
    } else {
      dup2(nullFd, 0);
      dup2(logFd, 1);
    }
    dup2(logFd, 2);
    if (o.passFd >= 0) dup2(o.passFd, 3);
    closefrom(o.passFd >= 0 ? 4 : 3);
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
    execvpe(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  Child child;
  child.pid = pid;
  if (o.pipes) {
    close(in[0]);
    close(out[1]);
    child.input = in[1];
    child.output = out[0];
  }
  return child;
}

bool WaitFor(Child& child, int timeoutMs) {
  if (child.pid <= 0 || child.reaped) return true;
  Clock::time_point start = Clock::now();
  for (;;) {
    int status = 0;
    pid_t done = waitpid(child.pid, &status, WNOHANG);
    if (done == child.pid || (done < 0 && errno == ECHILD)) {
      child.status = done == child.pid ? status : -1;
      child.reaped = true;
      return true;
    }
    if (MillisSince(start) >= timeoutMs) return false;
    SleepMs(5);
  }
}

void Stop(Child& child, int graceMs) {
  if (child.input >= 0) close(child.input);
  child.input = -1;
  if (child.pid > 0 && !child.reaped) {
    kill(child.pid, SIGTERM);
    if (!WaitFor(child, graceMs)) {
      kill(child.pid, SIGKILL);
      WaitFor(child, 10000);
    }
  }
  if (child.output >= 0) close(child.output);
  child.output = -1;
}

int RunToEnd(const SpawnOptions& options, int timeoutMs) {
  Child child = Spawn(options);
  if (!WaitFor(child, timeoutMs)) {
    Stop(child, 500);
    return -1;
  }
  return WIFEXITED(child.status) ? WEXITSTATUS(child.status) : 128;
}

Xvfb::Xvfb() {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) throw HarnessError("pipe for Xvfb");
  SpawnOptions o;
  o.argv = {"Xvfb",       "-displayfd", "3",   "-screen", "0",
            "800x600x24", "-nolisten",  "tcp", "-noreset"};
  o.passFd = fds[1];
  server_ = Spawn(o);
  close(fds[1]);
  std::string number;
  Clock::time_point start = Clock::now();
  while (number.find('\n') == std::string::npos && MillisSince(start) < 20000) {
    pollfd p = {fds[0], POLLIN, 0};
    if (poll(&p, 1, 200) > 0) {
      char buffer[32];
      ssize_t n = read(fds[0], buffer, sizeof buffer);
      if (n <= 0) break;
      number.append(buffer, n);
    }
  }
  close(fds[0]);
  if (number.find('\n') == std::string::npos) {
    Stop(server_);
    throw HarnessError("Xvfb did not report a display (is it installed?)");
  }
  display_ = ":" + Trim(number);
}

Xvfb::~Xvfb() { Stop(server_, 3000); }

bool Xvfb::Screenshot(const fs::path& file) const {
  std::error_code ignored;
  fs::create_directories(file.parent_path(), ignored);
  SpawnOptions o;
  o.argv = {"import", "-display", display_, "-window", "root", file.string()};
  return RunToEnd(o, 30000) == 0;
}

fs::path EnsureTemplatePrefix(const BuildPaths& paths, const std::string& display) {
  EnterWineRoad(paths);
  fs::create_directories(paths.work);
  fs::path templateDir = paths.work / "template";
  fs::path stamp = templateDir / "vexa-template.stamp";
  std::string identity = std::string(TEMPLATE_RECIPE) + "\n" + WineVersion() + "\n";
  if (ReadWhole(stamp) == identity) return templateDir;

  // Only one process boots it; the others wait here and then find it ready.
  fs::path lockFile = paths.work / "template.lock";
  int lock = open(lockFile.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0644);
  if (lock < 0) throw HarnessError("cannot open " + lockFile.string());
  Clock::time_point start = Clock::now();
  while (flock(lock, LOCK_EX | LOCK_NB) != 0) {
    if (MillisSince(start) > 300000) {
      close(lock);
      throw HarnessError("template prefix lock held for 5 minutes: " + lockFile.string());
    }
    SleepMs(100);
  }
  struct Unlock {
    int fd;
    ~Unlock() { close(fd); }
  } unlock{lock};
  if (ReadWhole(stamp) == identity) return templateDir;

  fs::path boot = paths.work / "template.boot";
  KillPrefixLeftovers(boot);
  fs::remove_all(boot);
  fs::remove_all(templateDir);
  std::vector<std::string> env = {"WINEPREFIX=" + boot.string(), "WINEARCH=win32", "WINEDEBUG=-all",
                                  std::string("WINEDLLOVERRIDES=") + BOOT_OVERRIDES,
                                  "DISPLAY=" + display};
  fs::path log = paths.work / "template-boot.log";
  fs::remove(log);
  SpawnOptions o;
  o.env = env;
  o.log = log;
  o.argv = {"wineboot", "-i"};
  int rc = RunToEnd(o, 240000);
  if (rc != 0)
    throw HarnessError("wineboot -i failed (" + std::to_string(rc) + "), see " + log.string());
  o.argv = {"wine", "reg", "add", "HKCU\\Software\\Wine\\X11 Driver", "/v", "Managed",
            "/d",   "N",   "/f"};
  rc = RunToEnd(o, 60000);
  if (rc != 0) throw HarnessError("wine reg add Managed=N failed, see " + log.string());
  o.argv = {"wineserver", "-k"};
  RunToEnd(o, 30000);
  KillPrefixLeftovers(boot);
  if (ReadWhole(boot / "user.reg").find("\"Managed\"=\"N\"") == std::string::npos) {
    throw HarnessError("the booted prefix lacks Managed=N: " + boot.string());
  }
  std::ofstream(boot / "vexa-template.stamp", std::ios::binary) << identity;
  fs::rename(boot, templateDir);
  return templateDir;
}

Session::Session(const Options& options) : options_(options), paths_(BuildPaths::FromBuild()) {
  signal(SIGPIPE, SIG_IGN);
  prctl(PR_SET_CHILD_SUBREAPER, 1);
  const char* keep = getenv("VEXA_WINE_UI_KEEP");
  keep_ = keep != nullptr && *keep != '\0' && *keep != '0';
  try {
    // Pictures of an earlier failure of this session name would only mislead.
    std::error_code ignored;
    for (const auto& old : fs::directory_iterator(paths_.screenshots / "failures", ignored)) {
      if (old.path().filename().string().rfind(options_.name + "-", 0) == 0)
        fs::remove(old.path(), ignored);
    }
    fs::path templateDir = EnsureTemplatePrefix(paths_, xvfb_.Display());
    // One folder per process: a folder kept after a failure stays until this name runs again.
    fs::path runs = paths_.work / "runs";
    for (const auto& old : fs::directory_iterator(runs, ignored)) {
      std::string entry = old.path().filename().string();
      if (entry.rfind(options_.name + ".", 0) != 0) continue;
      pid_t owner = (pid_t)atoi(entry.c_str() + options_.name.size() + 1);
      if (owner > 0 && kill(owner, 0) != 0 && errno == ESRCH) fs::remove_all(old.path(), ignored);
    }
    folder_ = runs / (options_.name + "." + std::to_string(getpid()));
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    prefix_ = folder_ / "prefix";
    SpawnOptions copy;
    copy.argv = {"cp", "-a", templateDir.string(), prefix_.string()};
    if (RunToEnd(copy, 180000) != 0) throw HarnessError("cp -a of the template prefix failed");
    fs::remove(prefix_ / "vexa-template.stamp");
    fs::copy_file(paths_.windows / "winhlp32.exe", DriveC() / "winhlp32.exe");
    if (options_.beforeWine) options_.beforeWine(*this);
    StartDriver();
    if (options_.startInstaller) StartInstaller();
  } catch (...) {
    keep_ = true;
    TearDown();
    throw;
  }
}

Session::~Session() { TearDown(); }

std::vector<std::string> Session::WineEnv() const {
  return {"WINEPREFIX=" + prefix_.string(), "WINEARCH=win32", "WINEDEBUG=-all",
          std::string("WINEDLLOVERRIDES=") + RUN_OVERRIDES, "DISPLAY=" + xvfb_.Display()};
}

void Session::StartDriver() {
  SpawnOptions o;
  o.argv = {"wine", (paths_.windows / "driver.exe").string()};
  o.env = WineEnv();
  o.cwd = DriveC();
  o.log = folder_ / "driver.log";
  o.pipes = true;
  driver_ = Spawn(o);
  // The first Wine process of a prefix also starts its server and desktop.
  Must({"ping"}, 90000);
}

void Session::StartInstaller(const std::string& image, const fs::path& unixFolder,
                             const std::string& windowsPath) {
  fs::path folder = unixFolder.empty() ? DriveC() : unixFolder;
  fs::path target = folder / "vexa-setup.exe";
  if (image.empty()) {
    fs::copy_file(paths_.windows / "vexa-setup.exe", target, fs::copy_options::overwrite_existing);
  } else {
    std::ofstream(target, std::ios::binary | std::ios::trunc) << image;
  }
  SpawnOptions o;
  o.argv = {"wine", windowsPath};
  o.env = WineEnv();
  o.cwd = folder;
  o.log = folder_ / "installer.log";
  installerStart_ = Clock::now();
  installer_ = Spawn(o);
}

int Session::RunWine(const std::vector<std::string>& args, int timeoutMs) {
  SpawnOptions o;
  o.argv = {"wine"};
  o.argv.insert(o.argv.end(), args.begin(), args.end());
  o.env = WineEnv();
  o.cwd = DriveC();
  o.log = folder_ / "wine-commands.log";
  return RunToEnd(o, timeoutMs);
}

double Session::SecondsSinceInstallerStart() const { return MillisSince(installerStart_) / 1000.0; }

bool Session::InstallerRunning() { return installer_.pid > 0 && !WaitFor(installer_, 0); }

int Session::WaitInstallerExit(int timeoutMs) {
  if (!WaitFor(installer_, timeoutMs))
    Fail("the installer is still running " + std::to_string(timeoutMs) + " ms later");
  if (!WIFEXITED(installer_.status))
    Fail("the installer ended by signal " + std::to_string(WTERMSIG(installer_.status)));
  return WEXITSTATUS(installer_.status);
}

void Session::StartSecondInstaller() {
  SpawnOptions o;
  o.argv = {"wine", "C:\\vexa-setup.exe"};
  o.env = WineEnv();
  o.cwd = DriveC();
  o.log = folder_ / "installer2.log";
  secondInstaller_ = Spawn(o);
}

std::string Session::ReadLine(int timeoutMs) {
  Clock::time_point start = Clock::now();
  for (;;) {
    size_t newline = pending_.find('\n');
    if (newline != std::string::npos) {
      std::string line = pending_.substr(0, newline);
      pending_.erase(0, newline + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      return line;
    }
    int left = timeoutMs - MillisSince(start);
    if (left <= 0) Fail("the driver gave no answer within " + std::to_string(timeoutMs) + " ms");
    pollfd p = {driver_.output, POLLIN, 0};
    int ready = poll(&p, 1, left);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) continue;
    char buffer[65536];
    ssize_t n = read(driver_.output, buffer, sizeof buffer);
    if (n <= 0) Fail("the driver ended (see " + (folder_ / "driver.log").string() + ")");
    pending_.append(buffer, n);
  }
}

Reply Session::Call(const std::vector<std::string>& fields, int replyTimeoutMs) {
  if (driver_.input < 0) Fail("the driver is not running");
  std::string line;
  for (size_t i = 0; i < fields.size(); i++) line += (i ? "\t" : "") + fields[i];
  line += "\n";
  if (write(driver_.input, line.data(), line.size()) != (ssize_t)line.size())
    Fail("cannot write to the driver");
  std::string first = ReadLine(replyTimeoutMs);
  Reply reply;
  size_t space = first.find(' ');
  reply.status = first.substr(0, space);
  reply.head = space == std::string::npos ? "" : first.substr(space + 1);
  static const std::set<std::string> listings = {"controls", "dialogs", "items", "processes"};
  if (reply.Ok() && listings.count(fields[0])) {
    int rows = atoi(reply.head.c_str());
    for (int i = 0; i < rows; i++) reply.rows.push_back(ReadLine(replyTimeoutMs));
  }
  return reply;
}

Reply Session::Must(const std::vector<std::string>& fields, int replyTimeoutMs) {
  Reply reply = Call(fields, replyTimeoutMs);
  if (!reply.Ok()) {
    std::string line;
    for (const std::string& f : fields) line += (line.empty() ? "" : " ") + f;
    Fail("'" + line + "' answered: " + reply.status + " " + Unescape(reply.head));
  }
  return reply;
}

void Session::WaitWizard(int timeoutMs) {
  Must({"wait", "wizard", std::to_string(timeoutMs)}, timeoutMs + 20000);
}

std::vector<Control> Session::Controls(const std::string& dialog) {
  Reply reply = Must({"controls", dialog});
  std::vector<Control> controls;
  for (const std::string& row : reply.rows) {
    std::vector<std::string> f = SplitTabs(row);
    if (f.size() < 6) Fail("malformed control record: " + row);
    Control c;
    c.id = atoi(f[0].c_str());
    c.cls = f[1];
    c.visible = f[2] == "1";
    c.enabled = f[3] == "1";
    c.check = atoi(f[4].c_str());
    c.text = Unescape(f[5]);
    controls.push_back(c);
  }
  return controls;
}

void Session::Click(int id, const std::string& dialog) {
  Must({"click", std::to_string(id), dialog});
}

void Session::WaitText(int id, const std::string& text, int timeoutMs, const std::string& dialog) {
  Must({"waittext", std::to_string(id), Escape(text), std::to_string(timeoutMs), dialog},
       timeoutMs + 20000);
}

int Session::FocusId() {
  Reply reply = Must({"focus"});
  if (reply.head == "none") return 0;
  return atoi(reply.head.c_str());
}

std::string Session::ControlText(int id, const std::string& dialog) {
  return Unescape(Must({"text", std::to_string(id), dialog}).head);
}

Session::Box Session::WaitBox(const std::string& caption, int timeoutMs) {
  Reply reply = Must({"box", caption, std::to_string(timeoutMs)}, timeoutMs + 20000);
  std::vector<std::string> f = SplitTabs(reply.head);
  Box box;
  box.text = Unescape(f[0]);
  if (f.size() > 1) {
    std::stringstream ids(f[1]);
    std::string id;
    while (std::getline(ids, id, ',')) box.buttons.push_back(atoi(id.c_str()));
  }
  if (f.size() > 2) box.ownerTitle = Unescape(f[2]);
  if (f.size() > 3) box.ownerClass = Unescape(f[3]);
  return box;
}

void Session::AnswerBox(const std::string& caption, int button) {
  Must({"answer", caption, std::to_string(button), "15000"}, 35000);
}

void Session::WaitGone(const std::string& dialog, int timeoutMs) {
  Must({"gone", dialog, std::to_string(timeoutMs)}, timeoutMs + 20000);
}

fs::path Session::Shot(const fs::path& file) {
  xvfb_.Screenshot(file);
  return file;
}

void Session::Fail(const std::string& why) {
  keep_ = true;
  failures_++;
  fs::path shot =
      paths_.screenshots / "failures" / (options_.name + "-" + std::to_string(failures_) + ".png");
  bool saved = xvfb_.Screenshot(shot);
  std::string message = options_.name + ": " + why;
  message += saved ? "\n  screenshot: " + shot.string() : "\n  (no screenshot)";
  message += "\n  session folder: " + folder_.string();
  throw HarnessError(message);
}

fs::path Session::ProgramGroupDir() const {
  std::error_code ec;
  for (const auto& user : fs::directory_iterator(DriveC() / "users", ec)) {
    if (user.path().filename() == "Public") continue;
    fs::path programs = user.path() / "AppData/Roaming/Microsoft/Windows/Start Menu/Programs";
    if (fs::is_directory(programs)) return programs / "Vexa";
  }
  return DriveC() / "users/(no user)/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Vexa";
}

void Session::TearDown() noexcept {
  try {
    if (driver_.input >= 0) {
      const char quit[] = "quit\n";
      ssize_t ignored = write(driver_.input, quit, sizeof quit - 1);
      (void)ignored;
      close(driver_.input);
      driver_.input = -1;
      WaitFor(driver_, 3000);
    }
    if (!prefix_.empty() && fs::exists(prefix_)) {
      SpawnOptions o;
      o.argv = {"wineserver", "-k"};
      o.env = WineEnv();
      RunToEnd(o, 20000);
    }
    if (!WaitFor(installer_, 5000)) Stop(installer_, 500);
    if (!WaitFor(secondInstaller_, 2000)) Stop(secondInstaller_, 500);
    if (!WaitFor(driver_, 2000)) Stop(driver_, 500);
    Stop(driver_, 0);
    if (!prefix_.empty()) KillPrefixLeftovers(prefix_);
    ReapDeadChildren();
    if (!keep_ && !folder_.empty()) {
      std::error_code ignored;
      fs::remove_all(folder_, ignored);
    }
  } catch (...) {
  }
}

}  // namespace winetest
