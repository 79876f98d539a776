// zarncd [--device DRIVE_OR_IMAGE]: plays an audio CD from a drive or a CD image.
#include <chrono>
#include <memory>

#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>

#include "app/Application.h"
#include "app/Startup.h"
#include "playback/CdioDriver.h"
#include "device/SimulatedDriver.h"
#include "settings/PlayerSettings.h"

namespace {

// The see-through window needs to place itself and to read the screen behind it, which
// Wayland forbids; under X11 (or XWayland) both work.
void Prefer_X11() {
  if (qEnvironmentVariableIsEmpty("DISPLAY")) return;
  const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
  if (platform.isEmpty() || platform.startsWith("wayland")) qputenv("QT_QPA_PLATFORM", "xcb");
}

// --help and --version answer on the terminal, without a display.
bool Wants_Text_Only(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const QByteArray arg(argv[i]);
    if (arg == "-h" || arg == "--help" || arg == "-?" || arg == "--help-all" || arg == "-v" ||
        arg == "--version")
      return true;
  }
  return false;
}

// The settings file's place depends on where the program was installed, so say which it is.
QString Description() {
  return QStringLiteral("Plays audio CDs from a drive or a CD image.\n\nSettings: %1")
      .arg(QFile::decodeName(QByteArray::fromStdString(Settings_File_Path())));
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication::setApplicationName(QStringLiteral("zarncd"));
  QCoreApplication::setApplicationVersion(QStringLiteral("2.05"));
  QCommandLineParser parser;
  parser.addHelpOption();
  parser.addVersionOption();
  const QCommandLineOption deviceOption(
      QStringLiteral("device"),
      QStringLiteral("The drive (/dev/sr0) or CD image (CUE/BIN, TOC, NRG) to play; "
                     "the system's default drive when left out."),
      QStringLiteral("DRIVE_OR_IMAGE"));
  parser.addOption(deviceOption);

  if (Wants_Text_Only(argc, argv)) {
    QCoreApplication core(argc, argv);
    parser.setApplicationDescription(Description());
    parser.process(core);  // prints and exits
    return 0;
  }

  Prefer_X11();
  Application app(argc, argv);
  // The main window's close and the see-through window's Power Off end the program; a hidden
  // main window must not.
  app.setQuitOnLastWindowClosed(false);
  parser.setApplicationDescription(Description());
  parser.process(app);

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
    driver = std::make_unique<CdioDriver>(
        Command_Line_Path(argc, argv, "device", parser.value(deviceOption)));
  }

  std::unique_ptr<PlayerWindows> windows;
  if (const int code = Start_Player(std::move(driver), windows); code != 0) return code;

  QTimer simulatedClock;
  QElapsedTimer elapsed;
  if (simulated) {
    elapsed.start();
    QObject::connect(&simulatedClock, &QTimer::timeout,
                     [&] { simulated->advance(std::chrono::milliseconds(elapsed.restart())); });
    simulatedClock.start(50);
  }

  const int code = app.exec();
  simulatedClock.stop();
  return End_Player(windows, code);  // non-zero when the settings could not be saved
}
