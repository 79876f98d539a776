#include "support/Servers.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

extern char** environ;

namespace testsupport {

void PollPause() {
  if (QCoreApplication::instance()) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

ChildProcess ChildProcess::Start(const std::vector<std::string>& argv,
                                 const std::vector<std::string>& env,
                                 const std::string& stdoutPath) {
  std::vector<std::string> environment;
  for (char** e = environ; *e; ++e) environment.emplace_back(*e);
  for (const std::string& extra : env) {
    const std::string name = extra.substr(0, extra.find('=') + 1);
    std::erase_if(environment, [&](const std::string& e) { return e.starts_with(name); });
    environment.push_back(extra);
  }
  std::vector<char*> args, envp;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  for (const std::string& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1,
                                   stdoutPath.empty() ? "/dev/null" : stdoutPath.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  ChildProcess child;
  pid_t pid = -1;
  if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), envp.data()) == 0)
    child.pid_ = pid;
  posix_spawn_file_actions_destroy(&actions);
  return child;
}

bool ChildProcess::running() {
  if (pid_ <= 0) return false;
  int status = 0;
  if (::waitpid(pid_, &status, WNOHANG) != 0) {  // exited, or no longer ours to wait for
    pid_ = -1;
    return false;
  }
  return true;
}

int ChildProcess::wait() {
  if (pid_ <= 0) return -1;
  int status = 0;
  const pid_t got = ::waitpid(pid_, &status, 0);
  pid_ = -1;
  return got > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void ChildProcess::stop() {
  if (!running()) return;
  ::kill(pid_, SIGTERM);
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (std::chrono::steady_clock::now() < end) {
    if (!running()) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill();
}

void ChildProcess::kill() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  int status = 0;
  ::waitpid(pid_, &status, 0);
  pid_ = -1;
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "zarncd-test-XXXXXX").string();
  if (::mkdtemp(pattern.data())) path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

namespace {
const std::string kSink = "zarncd_test";
}  // namespace

std::vector<std::string> SoundServer::clientEnv() const {
  return {"PULSE_SERVER=" + address(), "XDG_RUNTIME_DIR=" + dir_.path(),
          "DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent"};
}

bool SoundServer::start(std::string* error) {
  auto fail = [&](const char* why) {
    if (error) *error = why;
    stop();
    return false;
  };
  stop();
  if (dir_.path().empty()) return fail("no temporary directory");
  // Its own HOME for its cookie and state, and no session bus (looking for one takes seconds).
  server_ = ChildProcess::Start({"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1",
                                 "--disable-shm=yes", "--load=module-null-sink sink_name=" + kSink,
                                 "--load=module-native-protocol-unix auth-anonymous=1"},
                                {"XDG_RUNTIME_DIR=" + dir_.path(), "HOME=" + dir_.path(),
                                 "DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent"});
  if (server_.pid() <= 0) return fail("pulseaudio could not be started");
  const bool ready = WaitFor(
      [&] {
        if (!server_.running()) return true;
        return ChildProcess::Start({"pactl", "info"}, clientEnv()).wait() == 0;
      },
      std::chrono::seconds(20));
  if (!ready || !server_.running()) return fail("pulseaudio did not come up");
  ::setenv("PULSE_SERVER", address().c_str(), 1);
  keepAwake_ = ChildProcess::Start(
      {"sh", "-c", "exec pacat --playback --raw --latency-msec=20 -d " + kSink + " </dev/zero"},
      clientEnv());
  recorder_ = ChildProcess::Start({"parec", "-d", kSink + ".monitor", "--raw", "--format=s16le",
                                   "--rate=44100", "--channels=2", "--latency-msec=10"},
                                  clientEnv(), dir_.file("monitor.raw"));
  if (!WaitFor([&] { return frames() > 0; }, std::chrono::seconds(20)))
    return fail("the monitor records nothing");
  return true;
}

void SoundServer::hang() {
  if (server_.running()) ::kill(server_.pid(), SIGSTOP);
}

void SoundServer::wake() {
  if (server_.running()) ::kill(server_.pid(), SIGCONT);
}

void SoundServer::stop() {
  wake();  // a hung server would not hear SIGTERM
  recorder_.stop();
  keepAwake_.stop();
  server_.stop();
}

std::int64_t SoundServer::frames() const {
  struct stat st {};
  return ::stat(dir_.file("monitor.raw").c_str(), &st) == 0 ? st.st_size / 4 : 0;
}

std::vector<std::int16_t> SoundServer::left(std::int64_t from, std::int64_t count) const {
  return LeftChannel(dir_.file("monitor.raw"), from, count);
}

std::vector<std::int16_t> LeftChannel(const std::string& path, std::int64_t from,
                                      std::int64_t count) {
  std::ifstream in(path, std::ios::binary);
  if (from < 0) {
    count += from;
    from = 0;
  }
  in.seekg(from * 4);
  std::vector<char> raw(static_cast<std::size_t>(std::max<std::int64_t>(count, 0)) * 4);
  in.read(raw.data(), static_cast<std::streamsize>(raw.size()));
  std::vector<std::int16_t> out(static_cast<std::size_t>(in.gcount()) / 4);
  for (std::size_t i = 0; i < out.size(); ++i)
    out[i] = static_cast<std::int16_t>(static_cast<unsigned char>(raw[i * 4]) |
                                       (static_cast<unsigned char>(raw[i * 4 + 1]) << 8));
  return out;
}

bool XServer::start(std::string* error) {
  // Xvfb takes a free display number itself and writes it once it accepts connections.
  const std::string number = dir_.file("display");
  server_ = ChildProcess::Start(
      {"Xvfb", "-displayfd", "1", "-screen", "0", "1280x1024x24", "-nolisten", "tcp", "-noreset"},
      {}, number);
  WaitFor([&] { return !server_.running() || !Output("cat " + number).empty(); },
          std::chrono::seconds(20));
  display_ = ":" + Output("cat " + number);
  while (display_.back() == '\n') display_.pop_back();
  if (server_.running() && display_.size() > 1) return true;
  if (error) *error = "Xvfb could not be started";
  stop();
  return false;
}

std::string Output(const std::string& command) {
  std::string out;
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    char buffer[512];
    while (const std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, n);
    ::pclose(pipe);
  }
  return out;
}

std::string WindowProperty(const std::string& window, const std::string& name) {
  // In a UTF-8 locale, so that a caption beyond ASCII is printed as its text, not escaped.
  std::string line = Output("LC_ALL=C.UTF-8 xprop -id " + window + " " + name + " 2>/dev/null");
  const std::size_t equals = line.find(" = ");
  if (equals == std::string::npos) return "(unset)";
  line = line.substr(equals + 3);
  while (!line.empty() && (line.back() == '\n' || line.back() == '"')) line.pop_back();
  if (!line.empty() && line.front() == '"') line.erase(0, 1);
  return line;
}

namespace {
int Field(const std::string& text, const std::string& label) {
  const std::size_t at = text.find(label);
  return at == std::string::npos ? -1 : std::stoi(text.substr(at + label.size()));
}
}  // namespace

QRect ClientRect(const std::string& window) {
  const std::string info = Output("xwininfo -id " + window + " 2>/dev/null");
  if (info.find("IsViewable") == std::string::npos) return {};
  return QRect(Field(info, "Absolute upper-left X:"), Field(info, "Absolute upper-left Y:"),
               Field(info, "Width:"), Field(info, "Height:"));
}

QRect OuterRect(const std::string& window) {
  int l = 0, r = 0, t = 0, b = 0;
  std::sscanf(Output("xprop -id " + window + " _NET_FRAME_EXTENTS 2>/dev/null").c_str(),
              "_NET_FRAME_EXTENTS(CARDINAL) = %d, %d, %d, %d", &l, &r, &t, &b);
  const QRect client = ClientRect(window);
  return client.isEmpty() ? client : client.marginsAdded(QMargins(l, t, r, b));
}

}  // namespace testsupport
