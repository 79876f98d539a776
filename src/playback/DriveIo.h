#pragma once
// The layer between the CD driver and the medium: a drive node reached through ioctls and
// libcdio, or a CD image with a virtual tray. A drive may block in any call (spinning up, a
// hung USB bridge), so only the driver's worker threads call it: the monitor thread calls
// status(), readToc(), eject() and closeTray(); the reader thread calls setSpeed() and
// readAudio(). Implementations allow those two threads to run at the same time. An image's
// tray calls are instant and thread-safe, so the driver makes them on the calling thread.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "device/DiscToc.h"

inline constexpr int kBytesPerSector = 2352;
inline constexpr int kFramesPerSector = kBytesPerSector / 4;  // 16-bit stereo frames

class DriveIo {
 public:
  enum class Status { TrayOpen, NoDisc, NotReady, DiscOk };

  virtual ~DriveIo() = default;

  virtual Status status() = 0;
  // The disc's table of contents, as it stands; nullopt when it cannot be read.
  virtual std::optional<DiscToc> readToc() = 0;
  // Reads count audio sectors from lsn into out (count * 2352 bytes). False on any error.
  virtual bool readAudio(std::int32_t lsn, int count, std::byte* out) = 0;
  // The largest read worth asking for at once.
  virtual int maxSectorsPerRead() const = 0;
  virtual void setSpeed(int /*times*/) {}
  virtual bool eject() = 0;
  virtual bool closeTray() = 0;
  virtual bool canEject() const = 0;
  // Replaces the disc of a virtual tray and closes it; false for a real drive.
  virtual bool insertImage(const std::string& /*path*/, std::string* error) {
    if (error) *error = "a real drive has no virtual tray";
    return false;
  }
  // Whether the medium is an image behind a virtual tray now (it may become a drive later).
  virtual bool hasVirtualTray() const { return false; }
  // Opens or closes a virtual tray at once, on the calling thread, and says true; a real drive's
  // tray moves only through eject() and closeTray() on the monitor thread, so false and nothing
  // done. One call, so that the medium cannot change between the question and the move.
  virtual bool moveVirtualTray(bool /*open*/) { return false; }
};

// Routes libcdio's own log through the program: warnings and errors once each on stderr,
// prefixed with the program's name; debugging chatter dropped. Safe to call many times.
void InstallCdioLogHandler();

// The table of contents of an opened libcdio source, first track first, with the disc's CD-Text;
// nullopt when the source has none. (CdIo_t is libcdio's handle; kept opaque here.)
struct _CdIo;
std::optional<DiscToc> ReadCdioToc(_CdIo* cdio);

// Opens an image file with libcdio (CUE/BIN, cdrdao TOC, NRG). Null, with the reason in
// *error, when the file is not an image libcdio can read.
_CdIo* OpenCdioImage(const std::string& path, std::string* error);

// A CD image: the tray opens on eject and closes on insertImage (or closeTray).
std::unique_ptr<DriveIo> MakeImageIo(const std::string& path);
// A drive node such as /dev/sr0.
std::unique_ptr<DriveIo> MakeLinuxDriveIo(const std::string& path);
