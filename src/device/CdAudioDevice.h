#pragma once
// MediaPlayer: the CD audio device object. Builds every MCI request the player sends, with
// the one-shot Wait, Notify and From overrides, and hands it to its driver.
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "device/CdDriver.h"
#include "device/Mci.h"

class EMCIDeviceError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class CdAudioDevice {
 public:
  static constexpr const char* kNotOpenText = "MCI ﾃﾞﾊﾞｲｽがありません";
  static constexpr const char* kUnknownErrorText = "原因不明のｴﾗｰ";

  explicit CdAudioDevice(std::unique_ptr<CdDriver> driver);
  ~CdAudioDevice();
  CdAudioDevice(const CdAudioDevice&) = delete;
  CdAudioDevice& operator=(const CdAudioDevice&) = delete;

  const bool AutoOpen = true;
  const bool AutoRewind = true;

  // Runs Device_Open when AutoOpen is set: the window calls this once its controls exist.
  void Loaded();

  void Device_Open();
  void Device_Close();
  void Device_Play();
  void Device_Stop();
  void Device_Seek(std::uint32_t position);
  void Device_Next();
  void Device_Previous();
  void Device_Eject();
  void Device_Set_Wait(bool wait);
  void Device_Set_Notify(bool notify);  // the player never asks; tests check the flag it sets
  void Device_Set_From(std::uint32_t position);
  void Device_Set_Time_Format(std::uint32_t format);

  // Status queries wait for the answer; a failed query answers Mode_Not_Ready / 0.
  std::uint8_t Device_Mode();
  std::uint32_t Device_Position();
  std::uint32_t Device_Tracks();
  std::uint32_t Device_Track_Position(std::uint32_t track);
  std::uint32_t Device_Length();
  std::uint8_t Device_Time_Format();
  // The identity as decimal text; nullopt when the query fails. Never raises.
  std::optional<std::string> Device_Disc_Identity();
  // The names the disc carries (CD-Text), as its table of contents was read; never raises.
  std::optional<DiscText> Device_Disc_Text() const { return driver_->discText(); }
  // The table of contents as the drive reads it; null without a disc. Never raises.
  std::shared_ptr<const DiscToc> Device_Disc_Toc() const { return driver_->discToc(); }

  bool Is_Open() const { return open_; }
  // Read by the tests only: the player asks the driver, and reports errors as they come.
  bool Can_Eject() const { return canEject_; }
  std::int32_t Last_Error() const { return lastError_; }
  // The code of the last failed identity query, 0 after a successful one.
  std::uint32_t Last_Identity_Error() const { return identityError_; }
  CdDriver& Driver() { return *driver_; }

 private:
  void CheckOpen() const;
  std::uint32_t PlayFlags();     // rule 1: Play's defaults and the overrides
  std::uint32_t CommandFlags();  // rule 2: every other command's defaults and the overrides
  std::uint32_t Send(std::uint16_t command, std::uint32_t flags, MciParams& params, bool record);
  std::uint32_t Status(std::uint32_t item, std::uint32_t extraFlags = 0, std::uint32_t track = 0,
                       bool record = true);
  void SeekTo(std::uint32_t flags, std::uint32_t position);

  std::unique_ptr<CdDriver> driver_;
  bool open_ = false;
  std::uint16_t deviceId_ = 0;
  bool canEject_ = false;
  std::int32_t lastError_ = 0;
  std::uint32_t identityError_ = 0;

  template <typename T>
  struct OneShot {
    T value{};
    bool pending = false;
  };
  OneShot<bool> wait_, notify_;
  OneShot<std::uint32_t> from_;
};
