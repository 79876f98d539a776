// The drive path end to end: a copy of the program plays discs in an emulated CD drive (the
// preload library of support/fakedrive) under the test's X server and sound server. What the
// window says is read from its caption, what it plays from the sink's monitor, and what it asked
// of the drive from the drive's log.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <QByteArray>

#include "ToneImage.h"
#include "disc/Ucdobj.h"
#include "playback/CueImage.h"
#include "support/Servers.h"

using namespace std::chrono_literals;
using testsupport::Output;
using testsupport::WaitFor;
using testsupport::WindowProperty;

namespace {

constexpr double kTone[] = {440, 620, 830, 1050, 1400};
// The main window's transport buttons, in its own coordinates.
constexpr int kButtonsY = 60, kPlay = 204, kNext = 228, kEject = 252;
const std::string kNotReadyCaption = "Zarn's CDPlayer";

// The sanitizer runtime must come first in LD_PRELOAD. The program is built as this test is, so
// it needs the runtime this process runs with, if any.
std::string Preload() {
  std::ifstream maps("/proc/self/maps");
  for (std::string line; std::getline(maps, line);)
    if (const auto path = line.find('/');
        path != std::string::npos && line.find("/libasan.so", path) != std::string::npos)
      return line.substr(path) + ":" + ZARNCD_FAKEDRIVE_LIBRARY;
  return ZARNCD_FAKEDRIVE_LIBRARY;
}

class Drive : public Listening {
 protected:
  void SetUp() override {
    if (qgetenv("QT_QPA_PLATFORM") != "xcb") GTEST_SKIP() << "no X server";
    ASSERT_TRUE(listen());
    std::filesystem::create_directory(dir_.file("drive"));
    std::ofstream(dir_.file("sr0")).flush();
  }

  // Writes a disc image, and an entry for it in the disc database under the identity of the
  // image opened as a CUE sheet. Returns the sheet's path.
  std::string disc(const std::string& name, const std::vector<ToneTrack>& tracks) {
    const std::string cue = WriteToneImage(dir_.path(), name, tracks);
    const std::string id = Disc_ID_From_Identity(ReadImageToc(cue, nullptr)->IdentityText());
    std::ofstream(dir_.file("cdplayer.ini"), std::ios::app)
        << "[" << id << "]\r\nartist=" << name << "\r\ntitle=Disc\r\n";
    return cue;
  }

  // Starts a copy of the program on the drive (or, with named false, on no drive given, its
  // stderr kept in the file "stderr") and waits for its main window to show this caption.
  void start(const std::string& caption, bool named = true,
             const std::vector<std::string>& more = {}) {
    const auto tests = std::filesystem::read_symlink("/proc/self/exe").parent_path();
    std::filesystem::copy_file(tests.parent_path() / "zarncd", dir_.file("zarncd"));
    // Beside the copy, its settings: the caption shows the track, its time and the disc's names.
    std::ofstream(dir_.file("ZarnCD.ini"), std::ios::binary)
        << "[Title_Bar]\r\nTrackNo=1\r\nTime=1\r\nArtist=1\r\nCDTitle=1\r\nTrackTitle=0\r\n";
    std::vector<std::string> env = sound_.clientEnv();
    env.insert(env.end(),
               {"LD_PRELOAD=" + Preload(), "ZARNCD_FAKE_DRIVE=" + node_,
                "ZARNCD_FAKE_DRIVE_DIR=" + dir_.file("drive"), "XDG_DATA_HOME=" + dir_.path()});
    env.insert(env.end(), more.begin(), more.end());
    player_ = testsupport::ChildProcess::Start(
        named ? std::vector<std::string>{dir_.file("zarncd"), "--device", node_}
              : std::vector<std::string>{"sh", "-c", "exec \"$0\" 2>\"$1\"", dir_.file("zarncd"),
                                         dir_.file("stderr")},
        env);
    ASSERT_TRUE(WaitFor(
        [&] {
          std::istringstream windows(
              Output("xdotool search --pid " + std::to_string(player_.pid()) + " 2>/dev/null"));
          for (std::string id; windows >> id;)
            if (WindowProperty(id, "_NET_WM_NAME") == caption) main_ = id;
          return !main_.empty();
        },
        60s))
        << "no window captioned \"" << caption << "\"\n"
        << log();
  }

  // The drive's controls and log (see support/fakedrive/FakeDrive.c).
  void set(const std::string& name, const std::string& value) {
    const std::string path = dir_.file("drive/" + name);
    std::ofstream(path + ".test") << value << "\n";
    std::filesystem::rename(path + ".test", path);
  }
  std::string log() const {
    std::ifstream in(dir_.file("drive/log"));
    return {std::istreambuf_iterator<char>(in), {}};
  }
  // The log's lines that are this request.
  int count(const std::string& request) const {
    std::istringstream lines(log());
    int n = 0;
    for (std::string line; std::getline(lines, line);) n += line == request;
    return n;
  }

  void click(int x) {
    Output("xdotool mousemove --window " + main_ + " " + std::to_string(x) + " " +
           std::to_string(kButtonsY) + " click 1");
  }
  std::string caption() const { return WindowProperty(main_, "_NET_WM_NAME"); }
  bool captionBecomes(const std::string& text, std::chrono::milliseconds deadline = 20s) const {
    return WaitFor([&] { return caption() == text; }, deadline);
  }
  // The position the caption shows, in seconds into the track; -1 when it shows none.
  int shownSeconds() const {
    int track, minutes, seconds;
    return std::sscanf(caption().c_str(), "Track%d %dm %ds", &track, &minutes, &seconds) == 3
               ? minutes * 60 + seconds
               : -1;
  }

  // The player's window captioned so, other than the main window, once it shows.
  std::string window(const std::string& caption) const {
    std::string found;
    WaitFor(
        [&] {
          std::istringstream windows(
              Output("xdotool search --pid " + std::to_string(player_.pid()) + " 2>/dev/null"));
          for (std::string id; windows >> id;)
            if (id != main_ && WindowProperty(id, "_NET_WM_NAME") == caption) found = id;
          return !found.empty();
        },
        20s);
    return found;
  }
  void keys(const std::string& window, const std::string& what) {
    Output("xdotool windowfocus --sync " + window + " " + what);
  }

  std::string node_ = dir_.file("sr0");
  testsupport::ChildProcess player_;
  std::string main_;
};

// One run of the program through the faults a drive shows, in sequence.
TEST_F(Drive, DiscsSwappedUnreadableHungAndTextedPlayAndShowWhatTheyCan) {
  const std::string first = disc("First", {{3, kTone[0]}, {3, kTone[1]}, {3, kTone[2]}});
  // Its second track lies beyond the end of the first disc.
  const std::string second = disc("Second", {{30, kTone[3]}, {3, kTone[4]}});
  set("disc", first);
  // Named by the entry written for the image: the drive's disc has the image's identity.
  start("Stopped Track1 0m 0s First  Disc  ");

  click(kPlay);
  ASSERT_TRUE(hears(kTone[0]));
  EXPECT_NE(log().find("speed 4x"), std::string::npos) << log();

  click(kEject);
  ASSERT_TRUE(WaitFor([&] { return count("eject") == 1; }, 10s)) << log();
  EXPECT_TRUE(captionBecomes(kNotReadyCaption)) << caption();
  set("spinup", "1500");
  set("tray", "closed");
  EXPECT_TRUE(captionBecomes("Stopped Track1 0m 0s First  Disc  ")) << caption();

  // The drive's own button while the disc plays, another disc in, with an unreadable second.
  click(kPlay);
  ASSERT_TRUE(hears(kTone[0]));
  set("tray", "open");
  EXPECT_TRUE(quiets()) << "the disc taken out still sounds";
  EXPECT_TRUE(captionBecomes(kNotReadyCaption)) << caption();
  set("disc", second);
  set("bad", "300 75");  // the fifth second
  set("tray", "closed");
  ASSERT_TRUE(captionBecomes("Stopped Track1 0m 0s Second  Disc  ")) << caption();
  click(kPlay);
  ASSERT_TRUE(hears(kTone[3]));
  EXPECT_EQ(count("speed 4x"), 3) << "a disc put in is read at full speed\n" << log();
  ASSERT_TRUE(quiets()) << "the unreadable second sounded\n" << log();
  EXPECT_TRUE(hears(kTone[3])) << "playback ended at the unreadable sectors";

  // Then a read that hangs.
  ASSERT_TRUE(WaitFor([&] { return shownSeconds() >= 8; }, 20s)) << caption();
  set("hang", "10000");
  ASSERT_TRUE(WaitFor([&] { return log().find("hangs") != std::string::npos; }, 5s));
  const auto hung = std::chrono::steady_clock::now();
  const int atHang = shownSeconds();
  std::filesystem::remove(dir_.file("drive/hang"));  // one read hangs, not every one after it
  // What was read ahead plays out, and then the position stays where the sound stopped.
  ASSERT_TRUE(quiets()) << "the sound never ran out";
  // The caption, refreshed about once a second, may show one second more; then it stands.
  const int atSilence = shownSeconds();
  int shown = atSilence;
  WaitFor([&] { return (shown = std::max(shown, shownSeconds())) > atSilence + 1; }, 3s);
  EXPECT_LE(shown, atSilence + 1) << "the position ran on without sound";
  EXPECT_LE(shown, atHang + 4) << "the position ran past what was read before the hang";
  click(kPlay);  // Stop
  EXPECT_TRUE(captionBecomes("Stopped Track1 0m 0s Second  Disc  ", 3s)) << "the window froze";
  EXPECT_LT(std::chrono::steady_clock::now() - hung, 9s) << "too slow to tell: the read is back";
  click(kPlay);
  EXPECT_TRUE(hears(kTone[3])) << "no sound once the read came back\n" << log();
  click(kNext);
  EXPECT_TRUE(hears(kTone[4])) << "the new disc past the old one's end\n" << log();
  EXPECT_EQ(count("eject"), 1) << log();
  EXPECT_EQ(count("close tray"), 0) << log();

  // A disc that nobody has named yet shows its CD-Text, read from the drive as packs: of an
  // English and a Japanese (MS-JIS, double-byte) block, the Japanese one.
  set("tray", "open");
  ASSERT_TRUE(captionBecomes(kNotReadyCaption)) << caption();
  set("bad", "");
  set("disc", WriteToneImage(dir_.path(), "Texted", {{3, kTone[0]}, {3, kTone[1]}}));
  set("cdtext",
      "BLOCK 09 00\nTITLE 0 English Album\nPERFORMER 0 English Band\nTITLE 1 One\n"
      "BLOCK 69 80\nTITLE 0 \x83\x66\x83\x42\x83\x58\x83\x4E\n"
      "PERFORMER 0 \x82\x79\x82\x60\x82\x71\x82\x6D\nTITLE 2 \x8B\xC8");
  set("tray", "closed");
  EXPECT_TRUE(captionBecomes("Stopped Track1 0m 0s ＺＡＲＮ  ディスク  ")) << caption();
  EXPECT_EQ(log().find("unknown"), std::string::npos) << log();
}

// A computer without a drive: the player starts on its empty image drive, takes an image handed
// over, and then the drive plugged in, until it is unplugged during play.
TEST_F(Drive, WithoutADriveImagesGoInAndADrivePluggedInLaterPlays) {
  const std::string first = disc("First", {{3, kTone[0]}});
  set("disc", disc("Plugged", {{20, kTone[2]}}));
  std::filesystem::create_directory(dir_.file("dev"));
  node_ = dir_.file("dev/sr0");
  // The second copy hands its image over on a session bus of the test's.
  auto bus = testsupport::ChildProcess::Start(
      {"dbus-daemon", "--session", "--nofork", "--print-address"}, {}, dir_.file("bus"));
  std::string address;
  ASSERT_TRUE(WaitFor(
      [&] {
        std::ifstream in(dir_.file("bus"));
        return static_cast<bool>(std::getline(in, address));
      },
      10s));
  const std::vector<std::string> env = {"ZARNCD_DRIVE_FOLDER=" + dir_.file("dev"),
                                        "DBUS_SESSION_BUS_ADDRESS=" + address};
  start(kNotReadyCaption, /*named=*/false, env);
  {
    std::ifstream in(dir_.file("stderr"));
    const std::string said{std::istreambuf_iterator<char>(in), {}};
    EXPECT_EQ(said.find("No CD drive found"), said.rfind("No CD drive found")) << said;
    EXPECT_NE(said.find("Drop a CD image on the window, or open one"), std::string::npos) << said;
  }

  std::vector<std::string> copyEnv = env;
  copyEnv.push_back("XDG_DATA_HOME=" + dir_.path());
  EXPECT_EQ(testsupport::ChildProcess::Start({dir_.file("zarncd"), first}, copyEnv).wait(), 0);
  EXPECT_TRUE(captionBecomes("Stopped Track1 0m 0s First  Disc  ")) << caption();

  // A drive plugged in is used once no image is in; unplugged during play, it is a tray opened,
  // and plugged in again it is back.
  click(kEject);
  ASSERT_TRUE(captionBecomes(kNotReadyCaption)) << caption();
  for (int plugged = 0; plugged < 2; ++plugged) {
    std::ofstream(node_).flush();
    ASSERT_TRUE(captionBecomes("Stopped Track1 0m 0s Plugged  Disc  ")) << caption() << log();
    click(kPlay);
    ASSERT_TRUE(hears(kTone[2])) << log();
    std::filesystem::remove(node_);
    EXPECT_TRUE(captionBecomes(kNotReadyCaption)) << caption();
    EXPECT_TRUE(quiets()) << "the drive unplugged still sounds";
  }
  EXPECT_TRUE(player_.running());
  player_.stop();
}

}  // namespace
