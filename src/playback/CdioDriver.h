#pragma once
// The CD audio device on a real drive or a CD image, through libcdio, with digital playback:
// the audio sectors are read and streamed to the sound server.
//
// Threads: the commands, insertImage() and the destructor are called from one thread (the GUI
// thread); positionFrames(), isPlaying() and isSilent() from any thread, at any time, even while
// the device opens or closes (they answer as a closed device then). The driver owns a
// monitor thread that polls the drive and a reader thread that fills the ring; AudioOutput owns
// the audio thread. None of them calls back into the caller. The locks and their order are
// described once, at the shared state in CdioDriver.cpp.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "device/CdDriver.h"

class DriveIo;

class CdioDriver : public TransportDriver {
 public:
  struct Options {
    // False plays on the silent clock only (for tests that must not need a sound server).
    bool useSoundServer = true;
    // How often a drive's status is asked for.
    int pollIntervalMs = 500;
    // For tests: runs inside a play command on the calling thread, after the table of contents
    // has been taken and before the playback is published, which is where a disc change is
    // hardest to notice. It must not call the driver's commands (play, stop, seek, tray).
    std::function<void()> duringPlay;
  };

  // A drive node (/dev/sr0) or an image file (CUE/BIN, cdrdao TOC, NRG); empty for the
  // system's default drive, or, on a computer without one, an empty image drive that takes the
  // first CD drive to appear (see DriveWatch). Nothing is touched until MCI_OPEN.
  explicit CdioDriver(std::string device);
  // As above, with the medium reached through io instead of the real drive or image: device
  // then only names it (in texts and for the in-use lock).
  CdioDriver(std::string device, std::unique_ptr<DriveIo> io, Options options);
  ~CdioDriver() override;

  // Closes the virtual tray of an image with this image as the disc. False, with the reason
  // in *error, when the image cannot be read.
  bool insertImage(const std::string& path, std::string* error = nullptr);
  // Whether insertImage() can take an image at all: the device is open, on an image and not on
  // a drive. The reason for false goes to *why.
  bool takesImages(std::string* why = nullptr) const;

  // The playing position in 44.1 kHz frames from sector 0 (588 frames a sector), finer than
  // any MCI answer; and whether the disc is playing now.
  std::int64_t positionFrames() const;
  bool isPlaying() const;
  // Whether the current playback runs on the silent clock (no sound server).
  bool isSilent() const;

 protected:
  std::uint32_t openTransport() override;
  void closeTransport() override;
  Snapshot snapshot() const override;
  std::uint32_t play(std::int32_t from) override;
  std::uint32_t stop() override;
  std::uint32_t seek(std::int32_t lsn) override;
  std::uint32_t openDoor() override;
  std::uint32_t closeDoor() override;
  bool canEject() const override;
  std::string transportErrorText(std::uint32_t code) const override;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};
