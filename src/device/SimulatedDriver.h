#pragma once
// A virtual CD drive for tests and development: a disc described by its table of contents, a
// tray, a clock the caller advances, and a log of the requests received (the latest ones: a
// long run of the program on it must not grow without bound).
#include <chrono>
#include <deque>
#include <initializer_list>
#include <map>
#include <optional>

#include "device/CdDriver.h"

class SimulatedDriver : public TransportDriver {
 public:
  struct Request {
    std::uint16_t command = 0;  // 0 for a string command
    std::uint32_t flags = 0;
    MciParams params;  // as sent, before the driver answered
    std::string text;  // the string command
  };

  // How many of the latest requests the log keeps.
  static constexpr std::size_t kLogLimit = 1000;

  SimulatedDriver() = default;
  explicit SimulatedDriver(DiscToc disc) { insertDisc(std::move(disc)); }

  // A disc of audio tracks with the given lengths in seconds, the first at sector 0.
  static DiscToc MakeDisc(std::initializer_list<double> trackSeconds);

  std::uint32_t send(std::uint16_t command, std::uint32_t flags, MciParams& params) override;
  std::uint32_t sendString(std::string_view command, std::string& answer) override;

  // The drive, as the person in front of it or another program changes it.
  void insertDisc(DiscToc disc);  // closes the tray with this disc, stopped at its start
  void removeDisc();
  void openTray();  // the drive's own eject button
  void closeTray();
  void forceMode(std::optional<std::uint32_t> mciMode) { forcedMode_ = mciMode; }
  void forceStatusAnswer(std::uint32_t item, std::optional<std::uint32_t> answer);
  void setCanEject(bool can) { canEject_ = can; }
  void failOpen(std::uint32_t code, std::string text = {});
  void failIdentity(bool fail) { failIdentity_ = fail; }
  // Playback started by someone else: the device plays from this sector.
  void startPlayingAt(std::int32_t lsn);
  void setPosition(std::int32_t lsn);

  // The clock: playback moves 75 sectors a second and stops at the end of the disc.
  void advance(std::chrono::milliseconds elapsed);

  std::int32_t positionLsn() const { return static_cast<std::int32_t>(position_ / 1000); }
  bool isPlaying() const { return playing_; }
  bool isTrayOpen() const { return trayOpen_; }
  const std::optional<DiscToc>& disc() const { return disc_; }

  const std::deque<Request>& log() const { return log_; }
  void clearLog() { log_.clear(); }

 protected:
  std::uint32_t openTransport() override { return openError_; }
  void closeTransport() override { playing_ = false; }
  Snapshot snapshot() const override;
  std::uint32_t play(std::int32_t from) override;
  std::uint32_t stop() override;
  std::uint32_t seek(std::int32_t lsn) override;
  std::uint32_t openDoor() override;
  std::uint32_t closeDoor() override;
  bool canEject() const override { return canEject_; }
  std::string transportErrorText(std::uint32_t code) const override;

 private:
  void record(Request request);  // keeps the latest kLogLimit

  std::optional<DiscToc> disc_;
  std::shared_ptr<const DiscToc> shared_;
  std::int64_t position_ = 0;  // in thousandths of a sector
  bool playing_ = false;
  bool trayOpen_ = false;
  bool canEject_ = true;
  bool failIdentity_ = false;
  std::optional<std::uint32_t> forcedMode_;
  std::map<std::uint32_t, std::uint32_t> forcedAnswers_;
  std::uint32_t openError_ = 0;
  std::string openErrorText_;
  std::deque<Request> log_;
};
