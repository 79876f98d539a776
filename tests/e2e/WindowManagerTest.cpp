// The player's windows under openbox, driven with xdotool and measured from the X server's side.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "profile/ProfileFile.h"
#include "support/Servers.h"

inline void PrintTo(const QRect& r, std::ostream* os) {
  *os << r.x() << "," << r.y() << " " << r.width() << "x" << r.height();
}

using namespace std::chrono_literals;
using namespace testsupport;

namespace {

// The map and unmap notifications of one window as xev reports them, from the moment Watch returns
// on: a window mapped for less than the time a poll of its state takes still leaves both behind.
class MapNotifications {
 public:
  bool Watch(const std::string& window, const std::string& log) {
    log_ = log;
    xev_ = ChildProcess::Start({"xev", "-id", window, "-event", "structure", "-event", "property"},
                               {}, log);
    // xev listens once it reports a property set after its start.
    return WaitFor(
        [&] {
          Output("xprop -id " + window + " -f ZARNCD_TEST_MARK 8s -set ZARNCD_TEST_MARK 1 2>&1");
          return Slurp(log_).find("ZARNCD_TEST_MARK") != std::string::npos;
        },
        10s);
  }
  std::string Sequence() const {  // "M" for each map, "U" for each unmap
    std::istringstream lines(Slurp(log_));
    std::string sequence;
    for (std::string line; std::getline(lines, line);) {
      if (line.rfind("MapNotify", 0) == 0) sequence += 'M';
      if (line.rfind("UnmapNotify", 0) == 0) sequence += 'U';
    }
    return sequence;
  }
  // True once the sequence from `from` on holds `events`; `from` is moved past them.
  bool Seen(const std::string& events, std::size_t& from, std::chrono::milliseconds deadline) {
    return WaitFor(
        [&] {
          const std::size_t at = Sequence().find(events, from);
          if (at == std::string::npos) return false;
          from = at + events.size();
          return true;
        },
        deadline);
  }

 private:
  std::string log_;
  ChildProcess xev_;
};

class ManagedPlayer : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { wm = ChildProcess::Start({"openbox", "--sm-disable"}); }
  static void TearDownTestSuite() { wm.stop(); }
  void SetUp() override {
    if (qgetenv("QT_QPA_PLATFORM") != "xcb") GTEST_SKIP() << "no X server";
    ASSERT_TRUE(WaitFor(  // until it manages windows
        [] {
          return Output("xprop -root _NET_SUPPORTING_WM_CHECK").find("window id") !=
                 std::string::npos;
        },
        60s));
  }

  // Starts the program; true once its main window is mapped, or, when `withOverlay`, once the
  // overlay (titled "Information") and the main window exist: a main window kept hidden is
  // mapped for a moment only.
  bool Launch(bool withOverlay = true, const std::string& scale = "1") {
    player = ChildProcess::Start(
        {CopyProgram(dir)},
        {"ZARNCD_SIMULATED_DISC=1", "XDG_DATA_HOME=" + dir.path(), "QT_SCALE_FACTOR=" + scale});
    main.clear(), overlay.clear();
    return WaitFor(
        [&] {
          for (const std::string& id : WindowsOf(player.pid())) {
            if (WindowProperty(id, "_NET_WM_NAME") == "Information")
              overlay = id;
            else if (main.empty() &&
                     WindowProperty(id, "WM_CLASS").find("zarncd") != std::string::npos)
              main = id;
          }
          return !main.empty() && (withOverlay ? !overlay.empty() : !ClientRect(main).isEmpty());
        },
        60s);
  }

  // True once the program has ended; `again` (when given) is run every 3 s until it does: a key
  // pressed while the window manager is still busy with a window can go astray.
  bool Until_Ended(const std::string& again = {}) {
    auto next = std::chrono::steady_clock::now();
    return WaitFor(
        [&] {
          if (!player.running()) return true;
          if (again.empty() || std::chrono::steady_clock::now() < next) return false;
          Output(again);
          next = std::chrono::steady_clock::now() + 3s;
          return false;
        },
        30s);
  }
  bool Closed() { return Until_Ended("xdotool windowactivate --sync " + main + " key alt+F4"); }

  void Start() {  // until the overlay shows its first face
    ASSERT_TRUE(Launch());
    ASSERT_TRUE(overlayMaps.Watch(overlay, dir.file("overlay.xev")));
    ASSERT_TRUE(WaitFor([&] { return !ClientRect(overlay).isEmpty(); }, 60s));
    // The first capture may be over before the watch began.
    ASSERT_TRUE(!overlayMaps.Seen("U", seen, 1500ms) || overlayMaps.Seen("M", seen, 10s));
  }
  bool Vanishes_And_Returns() { return overlayMaps.Seen("UM", seen, 10s); }

  void Choose(int downs) {  // the overlay's menu item `downs` steps from the top
    const std::string visible =
        "xdotool search --onlyvisible --pid " + std::to_string(player.pid());
    const std::size_t windows = Output(visible).size();
    Output("xdotool mousemove --window " + overlay + " 128 24 click 3");
    ASSERT_TRUE(WaitFor([&] { return Output(visible).size() > windows; }, 10s));
    std::string keys = "xdotool key";
    for (int i = 0; i < downs; ++i) keys += " Down";
    Output(keys + " Return");
  }

  static int Blue(const QPoint& at) {
    unsigned r = 0, g = 0, b = 0;
    std::sscanf(Output("import -window root -crop 1x1+" + std::to_string(at.x()) + "+" +
                       std::to_string(at.y()) + " -depth 8 txt:- | tail -1")
                    .c_str(),
                "%*s (%u,%u,%u", &r, &g, &b);
    return static_cast<int>(b);
  }

  static inline ChildProcess wm;
  TempDir dir;
  const std::string ini = dir.file("ZarnCD.ini");
  ChildProcess player;  // stopped before the directory goes
  std::string main, overlay;
  MapNotifications overlayMaps;
  std::size_t seen = 0;  // the overlay's notifications looked at
};

// The designed places, frame and all, as the window manager puts them. Dragged, the overlay
// follows the mouse and renews its background where it lands, and a click that moves nothing
// renews it in place. "Minimized" takes every window off the screen; restored, the overlay shows
// what lies behind it now, not what lay there before. "Power Off" ends the program with both
// placements saved, the main window's outer rectangle, frame and all; it comes back there, and
// an overlay not in use is placed but stays hidden, its stored show state unread.
TEST_F(ManagedPlayer, PlacedDraggedClickedMinimizedPoweredOffAndPlacedAgain) {
  ASSERT_NO_FATAL_FAILURE(Start());
  const int sides = OuterRect(main).width() - ClientRect(main).width();
  EXPECT_TRUE(WaitFor([&] { return OuterRect(main) == QRect(9, 87, 350 + sides, 450); }, 10s))
      << ::testing::PrintToString(OuterRect(main));
  EXPECT_TRUE(WaitFor([&] { return OuterRect(overlay) == QRect(40, 15, 256, 48); }, 10s))
      << ::testing::PrintToString(OuterRect(overlay));

  const QRect start = ClientRect(overlay);
  Output("xdotool mousemove 100 30 mousedown 1");
  // The window manager takes the move over a moment after the press.
  int step = 0;
  ASSERT_TRUE(WaitFor(
      [&] {
        ++step;
        Output("xdotool mousemove " + std::to_string(100 + step) + " " + std::to_string(30 + step));
        return ClientRect(overlay).topLeft() != start.topLeft();
      },
      10s));
  Output("xdotool mousemove 500 400");
  EXPECT_TRUE(WaitFor([&] { return ClientRect(overlay).top() > 300; }, 10s));
  Output("xdotool mouseup 1");
  EXPECT_TRUE(Vanishes_And_Returns());
  const QRect moved = ClientRect(overlay);
  EXPECT_GT(moved.left(), 400);
  Output("xdotool mousemove --window " + overlay + " 128 24 click 1");
  EXPECT_TRUE(Vanishes_And_Returns());
  EXPECT_EQ(ClientRect(overlay), moved);

  const QPoint probe = moved.topLeft() + QPoint(200, 6);
  EXPECT_LT(Blue(probe), 40);
  Choose(5);  // Minimized
  ASSERT_TRUE(
      WaitFor([&] { return ClientRect(overlay).isEmpty() && ClientRect(main).isEmpty(); }, 10s));
  // A blue window takes the overlay's place meanwhile.
  auto blue = ChildProcess::Start(
      {"display", "-size", "400x200", "-geometry",
       "+" + std::to_string(moved.left() - 50) + "+" + std::to_string(moved.top() - 50),
       "xc:blue"});
  ASSERT_TRUE(WaitFor([&] { return Blue(probe) > 200; }, 20s));
  Output("xdotool windowactivate " + overlay);
  EXPECT_TRUE(WaitFor(
      [&] {
        const int b = Blue(probe);
        return !ClientRect(overlay).isEmpty() && !ClientRect(main).isEmpty() && b > 40 && b < 200;
      },
      10s));
  blue.stop();

  Output("xdotool windowmove " + main + " 300 200");
  Output("xdotool windowsize " + main + " 420 520");
  ASSERT_TRUE(WaitFor([&] { return ClientRect(main) == QRect(300, 200, 420, 520); }, 10s));
  const QRect placed = OuterRect(main);
  Choose(8);  // Power Off
  ASSERT_TRUE(Until_Ended());
  ProfileFile file(ini);
  EXPECT_EQ(file.Profile_Read_Integer("Window", "PlaceNormalPos.Left", 0), placed.x());
  EXPECT_EQ(file.Profile_Read_Integer("Window", "PlaceNormalPos.Bottom", 0), placed.bottom() + 1);
  EXPECT_EQ(file.Profile_Read_Integer("SHWindow", "PlaceNormalPos.Left", 0), moved.left());

  file.Profile_Write_Bool("SeeThrough", "Use", false);
  file.Profile_Write_Integer("SHWindow", "PlaceShowCmd", 3);
  ASSERT_TRUE(Launch(false));
  EXPECT_TRUE(WaitFor([&] { return OuterRect(main) == placed; }, 10s))
      << ::testing::PrintToString(OuterRect(main));
  EXPECT_TRUE(overlay.empty() || OuterRect(overlay).isEmpty());
  ASSERT_TRUE(Closed());
  EXPECT_EQ(file.Profile_Read_Integer("SHWindow", "PlaceShowCmd", 0), 1);
}

// A main window stored maximised or minimised comes back so, and its normal rectangle goes back
// as it came. On a scaled screen the window manager's frame, counted in the screen's pixels, is
// converted: the window comes up tall, its designed size scaled, and goes back to the file so.
TEST_F(ManagedPlayer, StoredStatesAndScaledScreensComeBackAndGoBackToTheFile) {
  const struct {
    int showCmd;  // 0: nothing stored
    double scale;
    std::string state;
  } cases[] = {{3, 1, "_MAXIMIZED_HORZ"}, {2, 1, "_HIDDEN"}, {0, 2, ""}, {0, 1.5, ""}};
  const char* keys[] = {"Left", "Top", "Right", "Bottom"};
  const int normal[] = {100, 120, 500, 570};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.showCmd + c.scale);
    std::filesystem::remove(ini);
    ProfileFile file(ini);
    for (int i = 0; c.showCmd && i < 4; ++i)
      file.Profile_Write_Integer("Window", std::string("PlaceNormalPos.") + keys[i], normal[i]);
    if (c.showCmd) file.Profile_Write_Integer("Window", "PlaceShowCmd", c.showCmd);
    ASSERT_TRUE(Launch(true, std::to_string(c.scale)));
    const auto near = [](int got, double want) { return std::abs(got - want) <= 3; };
    EXPECT_TRUE(WaitFor(
        [&] {
          if (c.showCmd)
            return WindowProperty(main, "_NET_WM_STATE").find(c.state) != std::string::npos;
          return near(OuterRect(main).height(), 450 * c.scale) &&
                 near(ClientRect(main).width(), 350 * c.scale);
        },
        30s))
        << ::testing::PrintToString(OuterRect(main));
    // The session's end, which leaves the windows as they are.
    ::kill(player.pid(), SIGTERM);
    ASSERT_TRUE(Until_Ended());
    if (!c.showCmd) {
      EXPECT_NEAR(file.Profile_Read_Integer("Window", "TallHeight", 0), 450, 1);
      EXPECT_EQ(file.Profile_Read_Integer("Window", "PlaceNormalPos.Top", 0), 87);
      EXPECT_NEAR(file.Profile_Read_Integer("Window", "PlaceNormalPos.Bottom", 0), 87 + 450, 1);
      continue;
    }
    EXPECT_EQ(file.Profile_Read_Integer("Window", "PlaceShowCmd", 0), c.showCmd);
    for (int i = 0; i < 4; ++i)
      EXPECT_EQ(file.Profile_Read_Integer("Window", std::string("PlaceNormalPos.") + keys[i], 0),
                normal[i])
          << keys[i];
  }
}

// Stored values out of every range leave the windows usable. With every caption and taskbar
// field switched off, the playing player's caption and the application title are empty, and
// must stay so: the X11 back end would put the program's name in an empty caption.
TEST_F(ManagedPlayer, HostileStoredValuesAndEmptyCaptionsLeaveTheWindowsUsable) {
  std::ofstream(ini, std::ios::binary)
      << "[Window]\r\nTallHeight=2147483647\r\nPlaceNormalPos.Left=-2147483648\r\n"
         "PlaceNormalPos.Top=5\r\nPlaceNormalPos.Right=2147483647\r\nPlaceNormalPos.Bottom=-3\r\n"
         "[Disp]\r\nFontSize=2147483647\r\n"
         "[SHWindow]\r\nPlaceNormalPos.Left=5000\r\nPlaceNormalPos.Top=5000\r\n"
         "PlaceNormalPos.Right=5256\r\nPlaceNormalPos.Bottom=5048\r\n"
         "[Title_Bar]\r\nTrackNo=0\r\nTime=0\r\nArtist=0\r\nCDTitle=0\r\nTrackTitle=0\r\n"
         "[Icon]\r\nTrackNo=0\r\nTime=0\r\nArtist=0\r\nCDTitle=0\r\nTrackTitle=0\r\n";
  ASSERT_TRUE(Launch());
  // The overlay, stored beyond the screen, is moved onto it; the file keeps what it held.
  EXPECT_TRUE(WaitFor([&] { return OuterRect(overlay) == QRect(1024, 976, 256, 48); }, 10s));
  EXPECT_EQ(ProfileFile(ini).Profile_Read_Integer("SHWindow", "PlaceNormalPos.Left", 0), 5000);
  const QRect screen(0, 0, 1280, 1024);
  ASSERT_TRUE(WaitFor([&] { return OuterRect(main).size() == screen.size(); }, 10s))
      << ::testing::PrintToString(OuterRect(main));
  EXPECT_TRUE(screen.contains(ClientRect(main).topLeft() + QPoint(350, 32 + 136)));

  ASSERT_TRUE(WaitFor([&] { return WindowProperty(main, "_NET_WM_NAME") == "Stopped "; }, 10s));
  Output("xdotool windowfocus --sync " + main + " key Return");  // Play
  ASSERT_TRUE(WaitFor([&] { return WindowProperty(main, "_NET_WM_NAME") != "Stopped "; }, 10s));
  EXPECT_EQ(WindowProperty(main, "_NET_WM_NAME"), "");
  EXPECT_EQ(WindowProperty(main, "WM_NAME"), "");
  EXPECT_EQ(WindowProperty(overlay, "_NET_WM_NAME"), "Information");
  for (const std::string& window : {main, overlay})
    EXPECT_EQ(WindowProperty(window, "_NET_WM_ICON_NAME"), "") << window;
  EXPECT_TRUE(Closed());
}

// Started with the main window hidden, it comes, then goes, and stays hidden while the overlay is
// up; a close request to the overlay ends the program with the settings saved.
TEST_F(ManagedPlayer, CloseRequestToTheOverlayEndsTheProgramAndSaves) {
  ProfileFile file(ini);
  file.Profile_Write_Bool("Window", "MainForm", false);
  file.Profile_Write_Bool("Play", "RepeatDisk", true);
  ASSERT_NO_FATAL_FAILURE(Start());
  ASSERT_TRUE(WaitFor([&] { return ClientRect(main).isEmpty(); }, 10s));
  // Mapped behind the program's back, the main window goes again at once, and stays gone.
  MapNotifications mainMaps;
  ASSERT_TRUE(mainMaps.Watch(main, dir.file("main.xev")));
  Output("xdotool windowmap " + main);
  std::size_t from = 0;
  ASSERT_TRUE(mainMaps.Seen("M", from, 10s)) << mainMaps.Sequence();
  EXPECT_TRUE(mainMaps.Seen("U", from, 3s)) << mainMaps.Sequence();
  EXPECT_FALSE(mainMaps.Seen("M", from, 1s)) << mainMaps.Sequence();
  file.Profile_Write_Bool("Play", "RepeatDisk", false);
  ASSERT_TRUE(Until_Ended("xdotool windowactivate --sync " + overlay + " key alt+F4"));
  EXPECT_TRUE(file.Profile_Read_Bool("Play", "RepeatDisk", false));
  EXPECT_FALSE(file.Profile_Read_Bool("Window", "MainForm", true));
}

}  // namespace
