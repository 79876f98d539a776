#include "device/SimulatedDriver.h"

#include <cmath>

using namespace mci;

DiscToc SimulatedDriver::MakeDisc(std::initializer_list<double> trackSeconds) {
  DiscToc toc;
  std::int32_t lsn = 0;
  for (double seconds : trackSeconds) {
    toc.tracks.push_back({lsn, true});
    lsn += static_cast<std::int32_t>(std::llround(seconds * 75));
  }
  toc.leadout = lsn;
  return toc;
}

std::uint32_t SimulatedDriver::send(std::uint16_t command, std::uint32_t flags, MciParams& params) {
  record({command, flags, params, {}});
  std::uint32_t result = TransportDriver::send(command, flags, params);
  if (result == 0 && command == MCI_STATUS) {
    if (auto it = forcedAnswers_.find(params.item); it != forcedAnswers_.end())
      params.returnValue = it->second;
  }
  return result;
}

std::uint32_t SimulatedDriver::sendString(std::string_view command, std::string& answer) {
  Request request;
  request.text = std::string(command);
  record(std::move(request));
  if (failIdentity_) {
    answer.clear();
    return MCIERR_HARDWARE;
  }
  return TransportDriver::sendString(command, answer);
}

void SimulatedDriver::record(Request request) {
  if (log_.size() >= kLogLimit) log_.pop_front();
  log_.push_back(std::move(request));
}

void SimulatedDriver::insertDisc(DiscToc disc) {
  disc_ = std::move(disc);
  shared_ = std::make_shared<const DiscToc>(*disc_);
  trayOpen_ = false;
  playing_ = false;
  position_ = std::int64_t{disc_->tracks.empty() ? 0 : disc_->tracks.front().lsn} * 1000;
}

void SimulatedDriver::removeDisc() {
  disc_.reset();
  shared_.reset();
  playing_ = false;
  position_ = 0;
}

void SimulatedDriver::openTray() {
  trayOpen_ = true;
  playing_ = false;
}

void SimulatedDriver::closeTray() {
  trayOpen_ = false;
  if (disc_) insertDisc(*disc_);
}

void SimulatedDriver::forceStatusAnswer(std::uint32_t item, std::optional<std::uint32_t> answer) {
  if (answer)
    forcedAnswers_[item] = *answer;
  else
    forcedAnswers_.erase(item);
}

void SimulatedDriver::failOpen(std::uint32_t code, std::string text) {
  openError_ = code;
  openErrorText_ = std::move(text);
}

void SimulatedDriver::startPlayingAt(std::int32_t lsn) {
  setPosition(lsn);
  playing_ = true;
}

void SimulatedDriver::setPosition(std::int32_t lsn) {
  position_ = std::int64_t{lsn} * 1000;
}

void SimulatedDriver::advance(std::chrono::milliseconds elapsed) {
  if (!playing_ || !disc_) return;
  position_ += elapsed.count() * 75;
  const std::int64_t end = std::int64_t{disc_->leadout} * 1000;
  if (position_ >= end) {
    position_ = end;
    playing_ = false;
  }
}

TransportDriver::Snapshot SimulatedDriver::snapshot() const {
  Snapshot snap;
  snap.position = positionLsn();
  if (trayOpen_) {
    snap.mode = MCI_MODE_OPEN;
  } else if (disc_ && disc_->IsValid()) {
    snap.toc = shared_;
    snap.mode = playing_ ? MCI_MODE_PLAY : MCI_MODE_STOP;
  } else {
    snap.mode = MCI_MODE_NOT_READY;
  }
  if (forcedMode_) snap.mode = *forcedMode_;
  return snap;
}

std::uint32_t SimulatedDriver::play(std::int32_t from) {
  setPosition(from);
  playing_ = from < disc_->leadout;
  return 0;
}

std::uint32_t SimulatedDriver::stop() {
  playing_ = false;
  return 0;
}

std::uint32_t SimulatedDriver::seek(std::int32_t lsn) {
  playing_ = false;  // an MCI seek ends playback
  setPosition(lsn);
  return 0;
}

std::uint32_t SimulatedDriver::openDoor() {
  openTray();
  return 0;
}

std::uint32_t SimulatedDriver::closeDoor() {
  closeTray();
  return 0;
}

std::string SimulatedDriver::transportErrorText(std::uint32_t code) const {
  return code != 0 && code == openError_ ? openErrorText_ : std::string{};
}
