// A copy of the program plays discs in an emulated CD drive (support/fakedrive, preloaded): what
// it says is read from its caption, what it plays from the sink's monitor, what it asked from the
// drive's log.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "disc/Ucdobj.h"
#include "playback/CueImage.h"
#include "support/Servers.h"

using namespace std::chrono_literals;
using namespace testsupport;

namespace {

constexpr double kTone[] = {440, 620, 830, 1050, 1400};
// The main window's transport buttons, in its own coordinates.
constexpr int kButtonsY = 60, kPlay = 204, kNext = 228, kEject = 252;
const std::string kNotReady = "Zarn's CDPlayer";

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

class Drive : public ::testing::Test {
 protected:
  void SetUp() override {
    if (qgetenv("QT_QPA_PLATFORM") != "xcb") GTEST_SKIP() << "no X server";
    ASSERT_EQ(sound_.start(), "");
    std::filesystem::create_directory(dir_.file("drive"));
    std::filesystem::create_directory(dir_.file("dev"));
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
  static std::string named(const std::string& disc) {
    return "Stopped Track1 0m 0s " + disc + "  ";
  }

  void set(const std::string& name, const std::string& value) {
    const std::string path = dir_.file("drive/" + name);
    std::ofstream(path + ".test") << value << "\n";
    std::filesystem::rename(path + ".test", path);
  }
  std::string log() const { return Slurp(dir_.file("drive/log")); }
  int count(const std::string& request) const {  // the log's lines that are this request
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
  int shownSeconds() const {
    int track, minutes, seconds;
    return std::sscanf(caption().c_str(), "Track%d %dm %ds", &track, &minutes, &seconds) == 3
               ? minutes * 60 + seconds
               : -1;
  }

  TempDir dir_;  // the images, outliving whatever plays them
  SoundServer sound_;
  const std::string node_ = dir_.file("dev/sr0");
  ChildProcess player_;
  std::string main_;
};

// One run of the program on a computer without a drive, through the faults a drive shows: it
// starts on its empty image drive, takes an image handed over, then a drive plugged in, whose
// discs are swapped, unreadable, hung and with CD-Text, and which is unplugged during play.
TEST_F(Drive, PluggedInLaterSwappedUnreadableHungAndTextedDiscsPlayAndShowWhatTheyCan) {
  const std::string first = disc("First", {{3, kTone[0]}, {3, kTone[1]}, {3, kTone[2]}});
  // Its second track lies beyond the end of the first disc.
  const std::string second = disc("Second", {{30, kTone[3]}, {3, kTone[4]}});
  const std::string handed = disc("Handed", {{3, kTone[2]}});
  // The second copy hands its image over on a session bus of the test's.
  ChildProcess bus;
  const std::string address = StartBus(dir_, bus);
  ASSERT_FALSE(address.empty());
  const std::string program = CopyProgram(dir_);
  std::ofstream(dir_.file("ZarnCD.ini"), std::ios::binary)
      << "[Title_Bar]\r\nTrackNo=1\r\nTime=1\r\nArtist=1\r\nCDTitle=1\r\nTrackTitle=0\r\n";
  std::vector<std::string> env = sound_.clientEnv();
  env.insert(env.end(), {"ZARNCD_DRIVE_FOLDER=" + dir_.file("dev"),
                         "DBUS_SESSION_BUS_ADDRESS=" + address, "XDG_DATA_HOME=" + dir_.path()});
  std::vector<std::string> withDrive = env;  // the emulated drive, for the player only
  withDrive.insert(withDrive.end(), {"LD_PRELOAD=" + Preload(), "ZARNCD_FAKE_DRIVE=" + node_,
                                     "ZARNCD_FAKE_DRIVE_DIR=" + dir_.file("drive")});
  player_ = ChildProcess::Start({"sh", "-c", "exec \"$0\" 2>\"$1\"", program, dir_.file("stderr")},
                                withDrive);
  ASSERT_TRUE(WaitFor(
      [&] {
        for (const std::string& id : WindowsOf(player_.pid()))
          if (WindowProperty(id, "_NET_WM_NAME") == kNotReady) main_ = id;
        return !main_.empty();
      },
      60s));
  const std::string said = Slurp(dir_.file("stderr"));
  EXPECT_EQ(said.find("No CD drive found"), said.rfind("No CD drive found")) << said;
  EXPECT_NE(said.find("Drop a CD image on the window, or open one"), std::string::npos) << said;
  EXPECT_EQ(ChildProcess::Start({program, handed}, env).wait(20s), 0);
  EXPECT_TRUE(captionBecomes(named("Handed  Disc"))) << caption();

  // A drive plugged in is used once no image is in. Named by the entry written for the image:
  // the drive's disc has the image's identity.
  click(kEject);
  ASSERT_TRUE(captionBecomes(kNotReady)) << caption();
  set("disc", first);
  std::ofstream(node_).flush();
  ASSERT_TRUE(captionBecomes(named("First  Disc"))) << caption() << log();
  click(kPlay);
  ASSERT_TRUE(sound_.hears(kTone[0])) << log();
  EXPECT_NE(log().find("speed 4x"), std::string::npos) << log();

  click(kEject);
  ASSERT_TRUE(WaitFor([&] { return count("eject") == 1; }, 10s)) << log();
  EXPECT_TRUE(captionBecomes(kNotReady)) << caption();
  set("spinup", "1500");
  set("tray", "closed");
  EXPECT_TRUE(captionBecomes(named("First  Disc"))) << caption();

  // The drive's own button while the disc plays, another disc in, with an unreadable second.
  click(kPlay);
  ASSERT_TRUE(sound_.hears(kTone[0]));
  set("tray", "open");
  EXPECT_TRUE(sound_.quiets()) << "the disc taken out still sounds";
  EXPECT_TRUE(captionBecomes(kNotReady)) << caption();
  set("disc", second);
  set("bad", "300 75");  // the fifth second
  const int speeds = count("speed 4x");
  set("tray", "closed");
  ASSERT_TRUE(captionBecomes(named("Second  Disc"))) << caption();
  click(kPlay);
  ASSERT_TRUE(sound_.hears(kTone[3]));
  EXPECT_EQ(count("speed 4x"), speeds + 1) << "a disc put in is read at full speed\n" << log();
  ASSERT_TRUE(sound_.quiets()) << "the unreadable second sounded\n" << log();
  EXPECT_TRUE(sound_.hears(kTone[3])) << "playback ended at the unreadable sectors";

  // Then a read that hangs.
  ASSERT_TRUE(WaitFor([&] { return shownSeconds() >= 8; }, 20s)) << caption();
  set("hang", "10000");
  ASSERT_TRUE(WaitFor([&] { return log().find("hangs") != std::string::npos; }, 5s));
  const auto hung = std::chrono::steady_clock::now();
  const int atHang = shownSeconds();
  std::filesystem::remove(dir_.file("drive/hang"));  // one read hangs, not every one after it
  // What was read ahead plays out, and then the position stays where the sound stopped.
  ASSERT_TRUE(sound_.quiets()) << "the sound never ran out";
  // The caption, refreshed about once a second, may show one second more; then it stands.
  const int atSilence = shownSeconds();
  int shown = atSilence;
  WaitFor([&] { return (shown = std::max(shown, shownSeconds())) > atSilence + 1; }, 3s);
  EXPECT_LE(shown, atSilence + 1) << "the position ran on without sound";
  EXPECT_LE(shown, atHang + 4) << "the position ran past what was read before the hang";
  click(kPlay);  // Stop
  EXPECT_TRUE(captionBecomes(named("Second  Disc"), 3s)) << "the window froze";
  EXPECT_LT(std::chrono::steady_clock::now() - hung, 9s) << "too slow to tell: the read is back";
  click(kPlay);
  EXPECT_TRUE(sound_.hears(kTone[3])) << "no sound once the read came back\n" << log();
  click(kNext);
  EXPECT_TRUE(sound_.hears(kTone[4])) << "the new disc past the old one's end\n" << log();
  EXPECT_EQ(count("eject"), 1) << log();
  EXPECT_EQ(count("close tray"), 0) << log();

  // A disc that nobody has named yet shows its CD-Text, read from the drive as packs: of an
  // English and a Japanese (MS-JIS, double-byte) block, the Japanese one.
  set("tray", "open");
  ASSERT_TRUE(captionBecomes(kNotReady)) << caption();
  set("bad", "");
  set("disc", WriteToneImage(dir_.path(), "Texted", {{3, kTone[0]}, {3, kTone[1]}}));
  set("cdtext",
      "BLOCK 09 00\nTITLE 0 English Album\nPERFORMER 0 English Band\nTITLE 1 One\n"
      "BLOCK 69 80\nTITLE 0 \x83\x66\x83\x42\x83\x58\x83\x4E\n"
      "PERFORMER 0 \x82\x79\x82\x60\x82\x71\x82\x6D\nTITLE 2 \x8B\xC8");
  set("tray", "closed");
  EXPECT_TRUE(captionBecomes(named("ＺＡＲＮ  ディスク"))) << caption();
  EXPECT_EQ(log().find("unknown"), std::string::npos) << log();

  // Unplugged during play, the drive is a tray opened; plugged in again it is back.
  for (int unplugged = 0; unplugged < 2; ++unplugged) {
    const int speeds = count("speed 4x");
    click(kPlay);
    ASSERT_TRUE(sound_.hears(kTone[0])) << log();
    EXPECT_GT(count("speed 4x"), speeds) << "a drive plugged in again reads at full speed\n"
                                         << log();
    std::filesystem::remove(node_);
    EXPECT_TRUE(captionBecomes(kNotReady)) << caption();
    EXPECT_TRUE(sound_.quiets()) << "the drive unplugged still sounds";
    std::ofstream(node_).flush();
    ASSERT_TRUE(captionBecomes(named("ＺＡＲＮ  ディスク"))) << caption() << log();
  }
  EXPECT_TRUE(player_.running());
  player_.stop();
}

}  // namespace
