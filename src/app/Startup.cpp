#include "app/Startup.h"

#include <exception>

#include <QTimer>

#include "about/Uabout.h"
#include "app/Application.h"
#include "app/Umain.h"
#include "disc/Uinfo.h"
#include "overlay/Usthrou.h"
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
