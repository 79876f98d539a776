// The player as a desktop sees it: command line, playerctl and a screen reader on a private bus,
// the hand-over to a running copy, SIGTERM at logout, images dropped or opened with Ctrl+O.
#include <gtest/gtest.h>
#include <signal.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QCompleter>
#include <QFileDialog>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <QDropEvent>
#include <QMessageBox>
#include <QMimeData>
#include <QUrl>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <optional>

#include "app/Startup.h"
#include "app/Umain.h"
#include "desktop/ImageDrop.h"
#include "overlay/Usthrou.h"
#include "playback/CdioDriver.h"
#include "playback/DriveIo.h"
#include "settings/PlayerSettings.h"
#include "support/Servers.h"

using namespace std::chrono_literals;
using namespace testsupport;

namespace {

std::string Shell(const std::string& command) {
  return Output(command + " 2>&1; echo rc=$?");
}

// Mistakes in the command line, and no display to show a window on, end with a message and an
// exit code. (The unit tests parse what names a drive or an image.) A box waiting for OK runs a
// loop of its own, before the message loop (a device that cannot be opened) and after it
// (settings that cannot be saved): a signal still ends the program, and a logout does not wait
// for a box nobody will answer.
TEST(Desktop, CommandLineMistakesNoDisplayAndSignalsWhileAnErrorBoxWaitsEndWithAnExitCode) {
  TempDir dir;
  const std::string program = CopyProgram(dir);
  const std::string player = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " + program;
  for (const auto& [args, said] : {
           std::pair{" --bogus", "zarncd: unknown option '--bogus'\nUsage: zarncd"},
           std::pair{" --device", "zarncd: option '--device' needs a drive or image"},
           std::pair{" --device=", "zarncd: option '--device' needs a drive or image"},
           std::pair{" ''", "zarncd: an empty name for a drive or image"},
       }) {
    const std::string out = Shell(player + args);
    EXPECT_NE(out.find(said), std::string::npos) << out;
    EXPECT_NE(out.find("rc=2"), std::string::npos) << out;
  }
  EXPECT_EQ(Shell(player + " cdda://sr0"), "zarncd: cannot connect to the X display\nrc=1\n");

  if (qgetenv("QT_QPA_PLATFORM") != "xcb") GTEST_SKIP() << "no X server";
  auto start = [&](const std::string& image) {
    return ChildProcess::Start(
        {"sh", "-c", "exec \"$0\" \"$1\" 2>\"$2\"", program, image, dir.file("err")},
        {"XDG_DATA_HOME=" + dir.path(), "DBUS_SESSION_BUS_ADDRESS=unix:path=" + dir.file("nobus")});
  };
  auto missing = start(dir.file("missing.cue"));
  ASSERT_TRUE(WaitFor(
      [&] { return Slurp(dir.file("err")).find("missing.cue") != std::string::npos; }, 20s));
  ::kill(missing.pid(), SIGTERM);
  EXPECT_EQ(missing.wait(10s), 1);

  // The settings file cannot be written where a folder holds its name.
  auto player2 = start(WriteToneImage(dir.path(), "tone", {{2, 440}}));
  ASSERT_TRUE(WaitFor(
      [&] {
        return !Shell("xdotool search --onlyvisible --pid " + std::to_string(player2.pid()))
                    .starts_with("rc=");
      },
      20s));
  std::filesystem::create_directory(dir.file("ZarnCD.ini"));
  ::kill(player2.pid(), SIGTERM);
  EXPECT_EQ(player2.wait(20s), 1);
}

TEST(Desktop, PlayerctlAndAScreenReaderDriveThePlayerASecondCopyHandsOverAndSigtermSaves) {
  if (qgetenv("QT_QPA_PLATFORM") != "xcb") GTEST_SKIP() << "no X server";
  TempDir dir;
  ChildProcess bus;
  const std::string address = StartBus(dir, bus);
  ASSERT_FALSE(address.empty());
  const std::string onBus = "DBUS_SESSION_BUS_ADDRESS='" + address + "' ";
  // The accessibility bus, which the player looks for on the session bus as it starts.
  auto a11y = ChildProcess::Start({"/usr/libexec/at-spi-bus-launcher", "--launch-immediately"},
                                  {"DBUS_SESSION_BUS_ADDRESS=" + address});
  ASSERT_TRUE(WaitFor(
      [&] {
        return Shell(onBus +
                     "dbus-send --session --print-reply --dest=org.freedesktop.DBus / "
                     "org.freedesktop.DBus.NameHasOwner string:org.a11y.Bus")
                   .find("true") != std::string::npos;
      },
      20s));
  const std::string program = CopyProgram(dir);
  auto start = [&](const std::string& image) {
    return ChildProcess::Start(
        {program, image}, {"DBUS_SESSION_BUS_ADDRESS=" + address, "XDG_DATA_HOME=" + dir.path(),
                           "QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1"});
  };
  auto ctl = [&](const std::string& args) {
    const std::string out = Shell(onBus + "playerctl -p zarncd " + args);
    return out.substr(0, out.rfind("rc="));
  };
  auto answers = [&](const std::string& args, const std::string& wanted) {
    return WaitFor([&] { return ctl(args) == wanted + "\n"; }, 20s);
  };

  // Track 1 lasts 3 s on the first disc and 2 s on the second, which tells them apart.
  const std::string first = WriteToneImage(dir.path(), "first", {{3, 440}, {3, 620}, {3, 830}});
  const std::string second = WriteToneImage(dir.path(), "second\xe9", {{2, 500}, {2, 700}});
  auto player = start(first);
  ASSERT_TRUE(answers("metadata xesam:trackNumber", "1"));
  EXPECT_EQ(ctl("status"), "Stopped\n");
  EXPECT_EQ(ctl("metadata mpris:length"), "3000000\n");
  EXPECT_EQ(ctl("metadata mpris:trackid"), "'/org/zarncd/disc/track1'\n");
  EXPECT_FALSE(ctl("metadata xesam:artist").empty());
  const std::string names =
      Shell(onBus + "timeout 120 /usr/bin/python3 " ZARNCD_E2E_DIR "/accessible_names.py");
  EXPECT_TRUE(("\n" + names).ends_with("\nrc=0\n")) << names;

  // Stopped, Next and Previous move without playing; Previous at a track's start goes back one.
  ctl("next");
  EXPECT_TRUE(answers("metadata xesam:trackNumber", "2"));
  ctl("previous");
  EXPECT_TRUE(answers("metadata xesam:trackNumber", "1"));
  ctl("play-pause");
  EXPECT_TRUE(answers("status", "Playing"));
  ctl("stop");
  EXPECT_TRUE(answers("status", "Stopped"));
  ctl("loop Playlist");
  EXPECT_EQ(ctl("loop"), "Playlist\n");
  ctl("loop Track");
  EXPECT_EQ(ctl("loop"), "Track\n");

  // The second copy gives its image to the running player and ends, whatever bytes name it.
  auto copy = start(second);
  EXPECT_EQ(copy.wait(20s), 0);
  EXPECT_TRUE(answers("metadata mpris:length", "2000000"));
  // An image opened over the bus can be played at once.
  const std::string third = WriteToneImage(dir.path(), "third", {{4, 440}});
  ctl("open '" + File_Uri(third) + "'");
  ctl("play");
  ASSERT_TRUE(answers("status", "Playing"));
  EXPECT_EQ(ctl("metadata mpris:length"), "4000000\n");
  ::kill(player.pid(), SIGTERM);
  EXPECT_EQ(player.wait(), 0);
  // Saved as at any other exit: with the loop states set over the bus.
  const std::string ini = Slurp(dir.file("ZarnCD.ini"));
  EXPECT_NE(ini.find("[Play]\r\nRepeatDisk=1\r\nRepeatTrack=1\r\n"), std::string::npos) << ini;
}

// A drop as the window system delivers it: one local file, entering first (Qt hands the drop
// to the widget that accepted the enter).
void Drop(QWidget& window, const std::string& path) {
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(QString::fromStdString(path))});
  QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&window, &enter);
  QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&window, &drop);
}

// Answers the next modal window of type W inside its own loop.
template <typename W, typename Answer>
void AnswerNextModal(bool* seen, Answer answer) {
  *seen = false;
  auto* poll = new QTimer(QCoreApplication::instance());
  QObject::connect(poll, &QTimer::timeout, [poll, seen, answer] {
    if (auto* w = qobject_cast<W*>(QApplication::activeModalWidget())) {
      *seen = true;
      poll->stop();  // deleted later: no nested loop here runs deferred deletions
      poll->deleteLater();
      answer(*w);
    }
  });
  poll->start(20);
  QTimer::singleShot(30s, poll, &QObject::deleteLater);  // never answers a later test's window
}

// Types a path into the file dialog and presses Return, as a user does once the completer's list
// is closed; a dialog still open after that fails the test instead of hanging it.
void TypePath(QFileDialog& dialog, const std::string& path) {
  auto* name = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
  ASSERT_TRUE(name);
  QApplication::setActiveWindow(&dialog);
  name->setFocus();
  QTest::keyClicks(name, QString::fromStdString(path));
  if (QCompleter* completer = name->completer()) completer->popup()->hide();
  QTest::keyClick(name, Qt::Key_Return);
  if (dialog.isVisible()) {
    ADD_FAILURE() << "the dialog did not take " << path;
    dialog.reject();
  }
}

class InProcess : public ::testing::Test {
 protected:
  void open(std::unique_ptr<CdioDriver> driver) {
    windows = nullptr;
    qputenv("XDG_DATA_HOME", QByteArray::fromStdString(dir.path()));
    Set_Settings_File_Override(dir.file("ZarnCD.ini"));
    windows = Create_Player_Windows(std::move(driver), /*runClock=*/false);
  }
  void TearDown() override {
    windows = nullptr;
    Set_Settings_File_Override(std::nullopt);
  }
  bool tracks(int count) {
    return WaitFor(
        [&] {
          windows->Main->Disp_Info();
          return (windows->Main->Disc_Loaded() ? windows->Main->Disc_Names()->Num_Tracks : 0) ==
                 count;
        },
        10s);
  }
  TempDir dir;
  decltype(Create_Player_Windows(nullptr, false)) windows;
};

struct DiscInDrive : DriveIo {
  std::atomic<int> ejects{0};
  Status status() override { return ejects ? Status::TrayOpen : Status::DiscOk; }
  std::optional<DiscToc> readToc() override { return DiscToc({{0, true}, {300, true}}, 600); }
  bool readAudio(std::int32_t, int, std::byte*) override { return false; }
  int maxSectorsPerRead() const override { return 25; }
  bool eject() override { return ++ejects > 0; }
  bool closeTray() override { return true; }
  bool canEject() const override { return true; }
};

// Dropped images replace the disc and other files are refused. A player that cannot take an
// image keeps its disc, and a failure on the way in is never an image taken (a second copy
// would end as if it had handed its image over).
TEST_F(InProcess, DroppedImagesReplaceTheDiscAndOnesThatCannotGoInChangeNothing) {
  open(std::make_unique<CdioDriver>(WriteToneImage(dir.path(), "two", {{2, 440}, {2, 620}})));
  Accept_Image_Drops(*windows);
  TfrmMain& main = *windows->Main;
  ASSERT_TRUE(tracks(2));

  std::ofstream(dir.file("notes.cue")) << "this is no cue sheet\n";
  Drop(main, dir.file("notes.cue"));
  auto* refusal = main.findChild<QMessageBox*>(QStringLiteral("ImageRefused"));
  ASSERT_TRUE(refusal);
  refusal->close();
  EXPECT_TRUE(tracks(2));

  Drop(*windows->SeeThrough, WriteToneImage(dir.path(), "three", {{2, 440}, {2, 620}, {2, 830}}));
  EXPECT_TRUE(tracks(3));

  // An image dropped while the tray stands open closes it.
  main.Eject_Disc();
  ASSERT_TRUE(tracks(0));
  Drop(main, dir.file("two.cue"));
  EXPECT_TRUE(tracks(2));

  // Ctrl+O with a path typed into the dialog: the image goes in, the next dialog starts in its
  // folder, and a file that is no image is refused there too.
  QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
  main.show();
  main.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&main));
  const std::string rips = dir.file("rips");
  std::filesystem::create_directory(rips);
  WriteToneImage(rips, "four", {{2, 440}, {2, 620}, {2, 830}, {2, 440}});
  QString started_in;
  bool refused = false;
  for (const std::string& typed : {rips + "/four.cue", dir.file("notes.cue")}) {
    bool answered = false;
    AnswerNextModal<QFileDialog>(&answered, [&](QFileDialog& dialog) {
      started_in = dialog.directory().absolutePath();
      if (typed == dir.file("notes.cue"))
        AnswerNextModal<QMessageBox>(&refused, [](QMessageBox& box) { box.accept(); });
      TypePath(dialog, typed);
    });
    QTest::keyClick(&main, Qt::Key_O, Qt::ControlModifier);
    EXPECT_TRUE(answered);
    EXPECT_TRUE(tracks(4));
  }
  EXPECT_TRUE(refused);
  EXPECT_EQ(started_in.toStdString(), rips);
  EXPECT_EQ(Image_Folder(), dir.path());  // where the user was last, image or not

  auto io = std::make_unique<DiscInDrive>();
  DiscInDrive& drive = *io;
  CdioDriver::Options options;
  options.useSoundServer = false;
  open(std::make_unique<CdioDriver>(dir.file("drive"), std::move(io), options));
  TfrmMain& player = *windows->Main;
  ASSERT_TRUE(tracks(2));
  QString error;
  EXPECT_FALSE(player.Insert_Image(dir.file("three.cue"), &error));
  EXPECT_TRUE(error.contains(QStringLiteral("a real drive takes discs"))) << error.toStdString();
  // The drive is told to eject by its monitor thread: given time to do it, it has not.
  EXPECT_FALSE(WaitFor([&] { return drive.ejects > 0; }, 2s));
  EXPECT_TRUE(tracks(2));

  // The device closed under the player: its eject fails, and the image does not go in.
  player.Device().Device_Close();
  error.clear();
  EXPECT_FALSE(player.Insert_Image(dir.file("three.cue"), &error));
  EXPECT_FALSE(error.isEmpty());
}

}  // namespace
