#include "app/Startup.h"

#include <cctype>
#include <cstring>
#include <exception>
#include <optional>
#include <set>

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
  if (Main) Main->Stop_Clock();
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

// ---------------------------------------------------------------------------------------------
// The command line

namespace {

// The toolkit's own options, which it takes from the command line itself; those in the first set
// take a value.
const std::set<std::string_view> kToolkitValueOptions = {"platform",
                                                         "platformpluginpath",
                                                         "platformtheme",
                                                         "plugin",
                                                         "qwindowgeometry",
                                                         "qwindowicon",
                                                         "qwindowtitle",
                                                         "display",
                                                         "geometry",
                                                         "style",
                                                         "stylesheet",
                                                         "session",
                                                         "name",
                                                         "title"};
const std::set<std::string_view> kToolkitFlagOptions = {"reverse", "widgetcount", "nograb",
                                                        "dograb", "sync"};

int Hex_Digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string Percent_Decoded(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      const int high = Hex_Digit(text[i + 1]), low = Hex_Digit(text[i + 2]);
      if (high >= 0 && low >= 0) {
        out.push_back(static_cast<char>(high * 16 + low));
        i += 2;
        continue;
      }
    }
    out.push_back(text[i]);
  }
  return out;
}

}  // namespace

std::string Device_From_Argument(std::string_view argument) {
  constexpr std::string_view cdda = "cdda://", file = "file://";
  if (argument.substr(0, cdda.size()) == cdda) {
    std::string_view rest = argument.substr(cdda.size());
    if (rest.empty()) return {};
    if (rest.front() == '/') return Percent_Decoded(rest);
    return "/dev/" + Percent_Decoded(rest);
  }
  if (argument.substr(0, file.size()) == file) {
    std::string_view rest = argument.substr(file.size());
    // "file://localhost/path" and "file:///path" are the same file.
    if (const std::size_t slash = rest.find('/'); slash != std::string_view::npos)
      rest = rest.substr(slash);
    return Percent_Decoded(rest);
  }
  return std::string(argument);
}

std::string File_Uri(std::string_view path) {
  std::string uri = "file://";
  for (const char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    if (std::isalnum(byte) || std::strchr("/-._~", c)) {
      uri += c;
    } else {
      static constexpr char kHex[] = "0123456789ABCDEF";
      uri += '%';
      uri += kHex[byte >> 4];
      uri += kHex[byte & 15];
    }
  }
  return uri;
}

std::string Usage_Text() {
  return "Usage: zarncd [--device DRIVE_OR_IMAGE | DRIVE_OR_IMAGE]\n"
         "       zarncd --help | --version\n";
}

Command_Line Parse_Command_Line(int argc, const char* const* argv) {
  Command_Line line;
  auto fail = [&](std::string error) {
    line.action = Command_Line::Action::Error;
    line.error = std::move(error);
    return line;
  };
  auto take = [&](std::string_view value) {
    if (line.deviceGiven || value.empty()) return false;
    line.deviceGiven = true;
    line.device = Device_From_Argument(value);
    return true;
  };
  bool optionsEnd = false;
  for (int i = 1; i < argc && argv[i]; ++i) {
    const std::string_view arg(argv[i]);
    if (optionsEnd || arg.size() < 2 || arg.front() != '-') {
      if (arg.empty()) return fail("an empty name for a drive or image");
      if (!take(arg))
        return fail("more than one drive or image given ('" + std::string(arg) + "')");
      continue;
    }
    if (arg == "--") {
      optionsEnd = true;
      continue;
    }
    const std::string_view body = arg.substr(arg[1] == '-' ? 2 : 1);
    const std::size_t equals = body.find('=');
    const std::string_view name = body.substr(0, equals);
    const bool inlineValue = equals != std::string_view::npos;
    if (name == "h" || name == "help" || name == "?" || name == "help-all") {
      line.action = Command_Line::Action::Help;
      return line;
    }
    if (name == "v" || name == "version") {
      line.action = Command_Line::Action::Version;
      return line;
    }
    if (name == "device" && arg[1] == '-') {
      std::string value;
      if (inlineValue) {
        value = std::string(body.substr(equals + 1));
      } else if (i + 1 < argc && argv[i + 1]) {
        value = argv[++i];
      } else {
        return fail("option '--device' needs a drive or image");
      }
      // An empty value would open the default drive, which is not what was asked for.
      if (value.empty()) return fail("option '--device' needs a drive or image");
      if (!take(value)) return fail("more than one drive or image given");
      continue;
    }
    if (kToolkitValueOptions.count(name)) {
      if (!inlineValue && !(i + 1 < argc && argv[i + 1]))
        return fail("option '" + std::string(arg) + "' needs a value");
      if (!inlineValue) ++i;
      continue;
    }
    if (kToolkitFlagOptions.count(name) || name.substr(0, 14) == "qmljsdebugger") continue;
    return fail("unknown option '" + std::string(arg) + "'");
  }
  return line;
}
