#pragma once
// The stand-in for the MCI CD audio driver: executes one request (command, flags, parameter
// block) for one opened device and answers as the MCI CD audio device does.
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "device/DiscToc.h"
#include "device/Mci.h"

struct MciParams {                    // the fields the program's requests use
  std::uint32_t from = 0, to = 0;     // MCI_FROM / MCI_TO positions, in the current time format
  std::uint32_t item = 0, track = 0;  // MCI_STATUS_ITEM / MCI_GETDEVCAPS_ITEM, MCI_TRACK
  std::uint32_t timeFormat = 0;       // MCI_SET_TIME_FORMAT
  std::uint32_t returnValue = 0;      // status and capability answers
  std::uint32_t deviceId = 0;         // MCI_OPEN: the identifier of the opened device
  std::string deviceType;             // MCI_OPEN_TYPE: the device type name

  bool operator==(const MciParams&) const = default;
};

class CdDriver {
 public:
  virtual ~CdDriver() = default;
  virtual std::uint32_t send(std::uint16_t command, std::uint32_t flags, MciParams& params) = 0;
  // The one string command the player uses: "info cdaudio identity".
  virtual std::uint32_t sendString(std::string_view command, std::string& answer) = 0;
  // Empty when the code has no text (the caller then supplies its own).
  virtual std::string errorText(std::uint32_t code) const = 0;
  // What the disc in the drive says of itself (CD-Text, a sheet's names), read with its table of
  // contents; nullopt when it says nothing or no disc is ready. Never waits for the drive.
  virtual std::optional<DiscText> discText() const { return std::nullopt; }
  // The table of contents of the disc in the drive, for naming it online; null when no disc is
  // ready. Never waits for the drive.
  virtual std::shared_ptr<const DiscToc> discToc() const { return nullptr; }
};

// The MCI protocol on top of a transport: decodes flags, items and time formats once, so
// that the simulated drive and the real one differ only in how they play, stop and seek.
class TransportDriver : public CdDriver {
 public:
  std::uint32_t send(std::uint16_t command, std::uint32_t flags, MciParams& params) override;
  std::uint32_t sendString(std::string_view command, std::string& answer) override;
  std::string errorText(std::uint32_t code) const override;
  std::optional<DiscText> discText() const override;
  std::shared_ptr<const DiscToc> discToc() const override;

 protected:
  struct Snapshot {
    std::uint32_t mode = mci::MCI_MODE_NOT_READY;  // an MCI mode value, 524 to 530
    std::shared_ptr<const DiscToc> toc;            // null while there is no readable disc
    std::int32_t position = 0;                     // current sector
  };

  virtual std::uint32_t openTransport() = 0;  // 0 or an MCI error code
  virtual void closeTransport() = 0;
  virtual Snapshot snapshot() const = 0;
  // Play from a sector to the end of the disc; stop; move without playing.
  virtual std::uint32_t play(std::int32_t from) = 0;
  virtual std::uint32_t stop() = 0;
  virtual std::uint32_t seek(std::int32_t lsn) = 0;
  virtual std::uint32_t openDoor() = 0;
  virtual std::uint32_t closeDoor() { return mci::MCIERR_UNSUPPORTED_FUNCTION; }
  virtual bool canEject() const = 0;
  // Details of the transport's own failures (for example why opening failed); empty if none.
  virtual std::string transportErrorText(std::uint32_t /*code*/) const { return {}; }

 private:
  std::uint32_t status(std::uint32_t flags, MciParams& params) const;
  std::uint32_t toPosition(const DiscToc& toc, std::int32_t lsn) const;
  std::optional<std::int32_t> fromPosition(const DiscToc& toc, std::uint32_t value) const;
  // The disc, when the drive can act on it; otherwise the error to answer with.
  std::uint32_t readyDisc(Snapshot& snap) const;

  bool open_ = false;
  std::uint32_t timeFormat_ = mci::MCI_FORMAT_MSF;  // the CD audio device's own default
};
