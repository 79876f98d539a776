#pragma once
// Start-up and shutdown: the five windows in their order, and the error that ends the program
// when the device cannot be opened.
#include <memory>
#include <string>
#include <string_view>

#include <QString>

#include "device/CdDriver.h"

class TfrmMain;
class TfrmSeeThrough;
class TfrmOption;
class TAboutBox;
class TfrmCDInfo;

struct PlayerWindows {
  std::unique_ptr<TfrmMain> Main;
  std::unique_ptr<TfrmSeeThrough> SeeThrough;
  std::unique_ptr<TfrmOption> Option;
  std::unique_ptr<TAboutBox> About;
  std::unique_ptr<TfrmCDInfo> CDInfo;

  PlayerWindows();
  // Destroys the windows, the last created first; each runs its destroy handler.
  ~PlayerWindows();
  PlayerWindows(const PlayerWindows&) = delete;
  PlayerWindows& operator=(const PlayerWindows&) = delete;
};

// Sets the application title and creates the windows in their order. Throws what opening the
// device throws; no window is shown. Tests pass runClock = false.
std::unique_ptr<PlayerWindows> Create_Player_Windows(std::unique_ptr<CdDriver> driver,
                                                     bool runClock = true);

// Everything before the message loop: on success the windows are created and the main window
// is shown, and the result is 0; when the device cannot be opened the error is reported and
// the result is 1, with no window shown.
int Start_Player(std::unique_ptr<CdDriver> driver, std::unique_ptr<PlayerWindows>& windows);

// Ends the run after the message loop: destroys the windows, whose main window saves the
// settings as it goes. The program's exit code: `code`, or 1 when that save failed (its report
// has been shown and the system's reason printed on stderr).
int End_Player(std::unique_ptr<PlayerWindows>& windows, int code);

// The command line, read before any display is needed so that a mistake is reported on the
// terminal: `zarncd [--device DRIVE_OR_IMAGE | DRIVE_OR_IMAGE]`, --help, --version, and the
// toolkit's own options (-platform NAME, -display NAME, ...), which are left to it. Paths are
// kept as the bytes the command line holds.
struct Command_Line {
  enum class Action { Run, Help, Version, Error } action = Action::Run;
  bool deviceGiven = false;
  std::string device;  // a drive node or image path; empty for the default drive
  std::string error;   // one line, for Action::Error
};
Command_Line Parse_Command_Line(int argc, const char* const* argv);

// A drive or image as a command line or a desktop hands it over: "cdda://sr0" and
// "cdda:///dev/sr0" name /dev/sr0, "file:///a%20b.cue" the file "/a b.cue"; anything else is a
// path already.
std::string Device_From_Argument(std::string_view argument);

// The file: URI of a path, its bytes percent-encoded as they are (a name need not be UTF-8), so
// that Device_From_Argument() gives the same bytes back.
std::string File_Uri(std::string_view path);

// The usage lines printed with an error and at the head of --help.
std::string Usage_Text();
