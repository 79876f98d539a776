#pragma once
// The CD audio device on a real drive or a CD image, through libcdio, with digital playback:
// the audio sectors are read and streamed to the sound server.
#include <memory>
#include <string>

#include "device/CdDriver.h"

class CdioDriver : public TransportDriver {
 public:
  // A drive node (/dev/sr0) or an image file (CUE/BIN, cdrdao TOC, NRG); empty for the
  // system's default drive. Nothing is touched until MCI_OPEN.
  explicit CdioDriver(std::string device);
  ~CdioDriver() override;

  // Closes the virtual tray of an image with this image as the disc. False, with the reason
  // in *error, when the image cannot be read.
  bool insertImage(const std::string& path, std::string* error = nullptr);

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
