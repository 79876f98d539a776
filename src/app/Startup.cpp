#include "app/Startup.h"

#include <cstring>
#include <exception>
#include <optional>

#include <QFile>
#include <QTimer>

#include "about/Uabout.h"
#include "app/Application.h"
#include "app/Umain.h"
#include "disc/Uinfo.h"
#include "overlay/Usthrou.h"
#include "settings/PlayerSettings.h"
#include "settings/Uoption.h"

PlayerWindows::PlayerWindows() = default;

PlayerWindows::~PlayerWindows() {
  // No tick may reach a window that is already gone, not even from the message loop of an
  // error report shown while a window is destroyed.
  if (Main) Main->Timer->stop();
  CDInfo.reset();
  About.reset();
  Option.reset();
  SeeThrough.reset();
  Main.reset();
}

std::unique_ptr<PlayerWindows> Create_Player_Windows(std::unique_ptr<CdDriver> driver,
                                                     bool runClock) {
  if (Application* app = Application::Instance())
    app->Set_Title(QString::fromUtf8(Application::kInitialTitle));
  auto windows = std::make_unique<PlayerWindows>();
  windows->Main = std::make_unique<TfrmMain>(std::move(driver), runClock);
  windows->SeeThrough = std::make_unique<TfrmSeeThrough>();
  windows->Option = std::make_unique<TfrmOption>();
  windows->About = std::make_unique<TAboutBox>();
  windows->CDInfo = std::make_unique<TfrmCDInfo>();
  windows->Main->Set_Companions(windows->SeeThrough.get(), windows->Option.get(),
                                windows->About.get(), windows->CDInfo.get());
  return windows;
}

int Start_Player(std::unique_ptr<CdDriver> driver, std::unique_ptr<PlayerWindows>& windows) {
  try {
    windows = Create_Player_Windows(std::move(driver));
  } catch (const std::exception& e) {
    windows.reset();
    if (Application* app = Application::Instance()) app->Show_Error(Application::Exception_Text(e));
    return 1;
  }
  windows->Main->show();
  return 0;
}

int End_Player(std::unique_ptr<PlayerWindows>& windows, int code) {
  const std::uint64_t failedBefore = Settings_Write_Failures();
  windows.reset();
  if (Settings_Write_Failures() != failedBefore && code == 0) return 1;
  return code;
}

std::string Command_Line_Path(int argc, const char* const* argv, std::string_view name,
                              const QString& parsed) {
  const std::string option = "--" + std::string(name);
  std::optional<std::string> found;
  for (int i = 1; i < argc && argv[i]; ++i) {
    const std::string_view arg(argv[i]);
    if (arg == "--") break;
    if (arg == option) {
      if (i + 1 < argc && argv[i + 1]) found = argv[++i];
    } else if (arg.size() > option.size() && arg.substr(0, option.size()) == option &&
               arg[option.size()] == '=') {
      found = std::string(arg.substr(option.size() + 1));
    }
  }
  if (found && QFile::decodeName(QByteArray::fromStdString(*found)) == parsed) return *found;
  return QFile::encodeName(parsed).toStdString();
}
