// zarncd [--device] [DRIVE_OR_IMAGE]: plays an audio CD from a drive or a CD image.
#include <chrono>
#include <cstdio>
#include <memory>

#include <QElapsedTimer>
#include <QTimer>

#include <xcb/xcb.h>

#include "app/Application.h"
#include "app/Startup.h"
#include "desktop/ImageDrop.h"
#include "desktop/Mpris.h"
#include "desktop/SessionEnd.h"
#include "playback/CdioDriver.h"
#include "device/SimulatedDriver.h"
#include "disc/Ucdobj.h"
#include "settings/PlayerSettings.h"
#include "Version.h"

namespace {

// The see-through window needs to place itself and to read the screen behind it, which
// Wayland forbids; under X11 (or XWayland) both work.
void Prefer_X11() {
  if (qEnvironmentVariableIsEmpty("DISPLAY")) return;
  const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
  if (platform.isEmpty() || platform.startsWith("wayland")) qputenv("QT_QPA_PLATFORM", "xcb");
}

// What Qt would abort on: asking for the X11 platform with no X server to reach.
bool Display_Reachable() {
  const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
  if (platform.isEmpty() && qEnvironmentVariableIsEmpty("DISPLAY"))
    return !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
  if (!platform.isEmpty() && !platform.startsWith("xcb")) return true;
  xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
  const bool reachable = connection && xcb_connection_has_error(connection) == 0;
  if (connection) xcb_disconnect(connection);
  return reachable;
}

void Print_Help() {
  std::printf(
      "%s\nPlays audio CDs from a drive or a CD image.\n\n"
      "  DRIVE_OR_IMAGE, --device DRIVE_OR_IMAGE\n"
      "                 the drive (/dev/sr0, cdda://sr0) or CD image (CUE/BIN, TOC, NRG) to\n"
      "                 play; the system's default drive when left out (without one, the\n"
      "                 player starts empty: drop or open an image, or plug a drive in). When\n"
      "                 a player runs already, it is handed the image and this one ends.\n"
      "  -h, --help     show this help and end\n"
      "  -v, --version  show the version and end\n\n"
      // The settings file's place depends on where the program was installed, so say which.
      "Settings: %s\nDisc database: %s\n",
      Usage_Text().c_str(), Settings_File_Path().c_str(), Disc_Database_Path().c_str());
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication::setApplicationName(QStringLiteral("zarncd"));
  QCoreApplication::setApplicationVersion(QStringLiteral(ZARNCD_VERSION));
  // Mistakes and --help are answered on the terminal, before a display is needed.
  const Command_Line line = Parse_Command_Line(argc, argv);
  switch (line.action) {
    case Command_Line::Action::Error:
      std::fprintf(stderr, "zarncd: %s\n%s", line.error.c_str(), Usage_Text().c_str());
      return 2;
    case Command_Line::Action::Version:
      std::printf("zarncd %s\n", ZARNCD_VERSION);
      return 0;
    case Command_Line::Action::Help: {
      QCoreApplication core(argc, argv);  // the settings path depends on the program's folder
      Print_Help();
      return 0;
    }
    case Command_Line::Action::Run:
      break;
  }

  Prefer_X11();
  if (!Display_Reachable()) {
    std::fprintf(stderr, "zarncd: cannot connect to the X display\n");
    return 1;
  }
  Application app(argc, argv);
  // The main window's close and the see-through window's Power Off end the program; a hidden
  // main window must not.
  app.setQuitOnLastWindowClosed(false);
  Install_Session_End_Handlers();
  // One player per desktop: a running one takes the image (or already plays this drive).
  if (line.deviceGiven && Mpris_Service::Hand_Over(line.device)) return 0;

  // For working on the windows without a drive: a virtual drive whose clock follows real time.
  std::unique_ptr<CdDriver> driver;
  SimulatedDriver* simulated = nullptr;
  if (qgetenv("ZARNCD_SIMULATED_DISC") == "1") {
    auto sim = std::make_unique<SimulatedDriver>(
        SimulatedDriver::MakeDisc({215, 187, 243, 198, 261, 176, 230, 204, 189, 252}));
    simulated = sim.get();
    driver = std::move(sim);
  } else {
    // The path as the command line holds its bytes, which need not be UTF-8.
    driver = std::make_unique<CdioDriver>(line.device);
  }

  std::unique_ptr<PlayerWindows> windows;
  if (const int code = Start_Player(std::move(driver), windows); code != 0) return code;

  Accept_Image_Drops(*windows);
  auto mpris = std::make_unique<Mpris_Service>(*windows->Main, line.device);

  QTimer simulatedClock;
  QElapsedTimer elapsed;
  if (simulated) {
    elapsed.start();
    QObject::connect(&simulatedClock, &QTimer::timeout,
                     [&] { simulated->advance(std::chrono::milliseconds(elapsed.restart())); });
    simulatedClock.start(50);
  }

  // A signal may have come while a box waited at start-up, whose loop took the quit request.
  const int code = Quit_Requested() ? 0 : app.exec();
  simulatedClock.stop();
  mpris.reset();                     // before the windows it reads
  return End_Player(windows, code);  // non-zero when the settings could not be saved
}
