#include "support/Servers.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numbers>
#include <sstream>
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
  for (const std::string& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
  args.push_back(nullptr), envp.push_back(nullptr);
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
  int status = -1;
  if (pid_ <= 0 || ::waitpid(pid_, &status, WNOHANG) == 0) return pid_ > 0;
  status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;  // exited, or not ours to wait for
  pid_ = -1;
  return false;
}

int ChildProcess::wait(std::chrono::milliseconds patience) {
  return WaitFor([&] { return !running(); }, patience) ? status_ : -2;
}

void ChildProcess::stop() {
  if (!running()) return;
  ::kill(pid_, SIGTERM);
  // Without Qt's events: a child stopped in a destructor must not run the program's slots.
  for (int i = 0; i < 500; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(10)))
    if (!running()) return;
  kill();
}

void ChildProcess::kill() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  ::waitpid(std::exchange(pid_, -1), nullptr, 0);
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "zarncd-test-XXXXXX").string();
  if (::mkdtemp(pattern.data())) path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
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

std::string CopyProgram(const TempDir& dir) {
  const auto tests = std::filesystem::read_symlink("/proc/self/exe").parent_path();
  std::filesystem::copy_file(tests.parent_path() / "zarncd", dir.file("zarncd"),
                             std::filesystem::copy_options::skip_existing);
  return dir.file("zarncd");
}

// The first line a child writes to `file`, once written, without its end.
static std::string FirstLine(ChildProcess& child, const std::string& file) {
  WaitFor([&] { return !child.running() || Slurp(file).find('\n') != std::string::npos; },
          std::chrono::seconds(20));
  const std::string text = Slurp(file);
  return child.running() ? text.substr(0, text.find('\n')) : "";
}

std::string StartBus(const TempDir& dir, ChildProcess& bus) {
  bus = ChildProcess::Start({"dbus-daemon", "--session", "--nofork", "--print-address"}, {},
                            dir.file("bus"));
  return FirstLine(bus, dir.file("bus"));
}

std::string StartXServer(const TempDir& dir, ChildProcess& server) {
  // Xvfb takes a free display number itself and writes it once it accepts connections.
  server = ChildProcess::Start(
      {"Xvfb", "-displayfd", "1", "-screen", "0", "1280x1024x24", "-nolisten", "tcp", "-noreset"},
      {}, dir.file("display"));
  const std::string number = FirstLine(server, dir.file("display"));
  return number.empty() ? "" : ":" + number;
}

namespace {
constexpr int kRate = 44100;
const std::string kSink = "zarncd_test";
}  // namespace

std::string WriteToneImage(const std::string& dir, const std::string& name,
                           const std::vector<ToneTrack>& tracks) {
  std::ofstream bin(dir + "/" + name + ".bin", std::ios::binary);
  std::ofstream cue(dir + "/" + name + ".cue");
  cue << "FILE \"" << name << ".bin\" BINARY\n";
  std::size_t sector = 0;
  for (std::size_t t = 0; t < tracks.size(); ++t) {
    const ToneTrack& track = tracks[t];
    char line[160];
    std::snprintf(line, sizeof line, "  TRACK %02zu %s\n    INDEX 01 %02zu:%02zu:%02zu\n", t + 1,
                  track.data ? "MODE1/2352" : "AUDIO", sector / 4500, sector / 75 % 60,
                  sector % 75);
    cue << line;
    const auto sectors = static_cast<std::size_t>(std::lround(track.seconds * 75));
    std::vector<std::int16_t> pcm(sectors * 588 * 2);
    const double sweep = track.toHz > 0 ? (track.toHz - track.hz) / track.seconds : 0;
    for (std::size_t i = 0; i < pcm.size(); ++i) {
      const double s = static_cast<double>(i / 2) / kRate;
      const double phase = 2 * std::numbers::pi * (track.hz * s + sweep * s * s / 2);
      pcm[i] = static_cast<std::int16_t>(std::lround(0.5 * 32767 * std::sin(phase)));
    }
    bin.write(reinterpret_cast<const char*>(pcm.data()),
              static_cast<std::streamsize>(pcm.size() * 2));
    sector += sectors;
  }
  return dir + "/" + name + ".cue";
}

double ToneLevel(const std::vector<std::int16_t>& samples, double hz) {
  if (samples.empty()) return 0;
  // Goertzel: one bin of the DFT, without computing the others.
  const double coeff = 2 * std::cos(2 * std::numbers::pi * hz / kRate);
  double s1 = 0, s2 = 0;
  for (std::int16_t x : samples) s2 = std::exchange(s1, x / 32768.0 + coeff * s1 - s2);
  const double power = s1 * s1 + s2 * s2 - coeff * s1 * s2;
  return 2 * std::sqrt(std::max(power, 0.0)) / static_cast<double>(samples.size());
}

double Rms(const std::vector<std::int16_t>& samples) {
  double sum = 0;
  for (std::int16_t x : samples) sum += (x / 32768.0) * (x / 32768.0);
  return samples.empty() ? 0 : std::sqrt(sum / static_cast<double>(samples.size()));
}

std::vector<std::string> SoundServer::clientEnv() const {
  return {"PULSE_SERVER=" + address(), "XDG_RUNTIME_DIR=" + dir_.path(),
          "DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent"};
}

std::string SoundServer::start() {
  auto fail = [&](const char* why) { return stop(), why; };
  stop();
  if (dir_.path().empty()) return fail("no temporary directory");
  // Its own HOME for its cookie and state, and no session bus (looking for one takes seconds).
  server_ = ChildProcess::Start({"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1",
                                 "--disable-shm=yes", "--load=module-null-sink sink_name=" + kSink,
                                 "--load=module-native-protocol-unix auth-anonymous=1"},
                                {"XDG_RUNTIME_DIR=" + dir_.path(), "HOME=" + dir_.path(),
                                 "DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent"});
  const bool ready = WaitFor(
      [&] {
        return !server_.running() ||
               ChildProcess::Start({"pactl", "info"}, clientEnv()).wait() == 0;
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
  return "";
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

bool SoundServer::hears(double hz) const {
  return WaitFor([&] { return ToneLevel(latest(), hz) > kHeard; }, std::chrono::seconds(15));
}

bool SoundServer::quiets(std::chrono::milliseconds deadline) const {
  return WaitFor([&] { return Rms(latest()) < 0.01; }, deadline);
}

std::vector<std::int16_t> LeftChannel(const std::string& path, std::int64_t from,
                                      std::int64_t count) {
  std::ifstream in(path, std::ios::binary);
  if (from < 0) count += from, from = 0;
  in.seekg(from * 4);
  std::vector<std::int16_t> raw(static_cast<std::size_t>(std::max<std::int64_t>(count, 0)) * 2);
  in.read(reinterpret_cast<char*>(raw.data()), static_cast<std::streamsize>(raw.size() * 2));
  std::vector<std::int16_t> out(static_cast<std::size_t>(in.gcount()) / 4);
  for (std::size_t i = 0; i < out.size(); ++i) out[i] = raw[i * 2];  // little-endian, as we are
  return out;
}

std::vector<std::string> WindowsOf(pid_t pid) {
  std::istringstream ids(Output("xdotool search --pid " + std::to_string(pid) + " 2>/dev/null"));
  return {std::istream_iterator<std::string>(ids), {}};
}

std::string WindowProperty(const std::string& window, const std::string& name) {
  // In a UTF-8 locale, so that a caption beyond ASCII is printed as its text, not escaped.
  std::string line = Output("LC_ALL=C.UTF-8 xprop -id " + window + " " + name + " 2>/dev/null");
  const std::size_t equals = line.find(" = ");
  if (equals == std::string::npos) return "(unset)";
  line = line.substr(equals + 3);
  while (!line.empty() && (line.back() == '\n' || line.back() == '"')) line.pop_back();
  return line.starts_with('"') ? line.substr(1) : line;
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
