#include "device/CdDriver.h"

#include <algorithm>
#include <cctype>

#include "device/Tmsf.h"

using namespace mci;

namespace {
constexpr std::int32_t kPregapFrames = 150;

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}
}  // namespace

std::uint32_t TransportDriver::readyDisc(Snapshot& snap) const {
  if (snap.mode == MCI_MODE_OPEN || !snap.toc) return MCIERR_HARDWARE_NO_MEDIA;
  if (snap.mode == MCI_MODE_NOT_READY) return MCIERR_DEVICE_NOT_READY;
  return 0;
}

std::uint32_t TransportDriver::toPosition(const DiscToc& toc, std::int32_t lsn) const {
  switch (timeFormat_) {
    case MCI_FORMAT_TMSF:
      return toc.ToTmsf(lsn);
    case MCI_FORMAT_MSF:
      return tmsf::MsfFromFrames(static_cast<std::uint32_t>(lsn + kPregapFrames));
    default:
      return static_cast<std::uint32_t>((std::int64_t{lsn} + kPregapFrames) * 1000 / 75);
  }
}

std::optional<std::int32_t> TransportDriver::fromPosition(const DiscToc& toc,
                                                          std::uint32_t value) const {
  std::int64_t lsn = 0;
  switch (timeFormat_) {
    case MCI_FORMAT_TMSF:
      return toc.FromTmsf(value);
    case MCI_FORMAT_MSF:
      lsn = std::int64_t{tmsf::FramesFromMsf(value)} - kPregapFrames;
      break;
    default:
      lsn = std::int64_t{value} * 75 / 1000 - kPregapFrames;
      break;
  }
  if (lsn < toc.tracks.front().lsn || lsn > toc.leadout) return std::nullopt;
  return static_cast<std::int32_t>(lsn);
}

std::uint32_t TransportDriver::status(std::uint32_t flags, MciParams& params) const {
  if (!(flags & MCI_STATUS_ITEM)) return MCIERR_MISSING_PARAMETER;
  Snapshot snap = snapshot();
  switch (params.item) {
    case MCI_STATUS_MODE:
      params.returnValue = snap.mode;
      return 0;
    case MCI_STATUS_TIME_FORMAT:
      params.returnValue = timeFormat_;
      return 0;
    case MCI_STATUS_READY:
      params.returnValue = snap.mode != MCI_MODE_NOT_READY && snap.mode != MCI_MODE_OPEN;
      return 0;
    case MCI_STATUS_MEDIA_PRESENT:
      params.returnValue = snap.toc != nullptr && snap.mode != MCI_MODE_OPEN;
      return 0;
    default:
      break;
  }
  if (std::uint32_t err = readyDisc(snap)) return err;
  const DiscToc& toc = *snap.toc;
  switch (params.item) {
    case MCI_STATUS_NUMBER_OF_TRACKS:
      params.returnValue = static_cast<std::uint32_t>(toc.TrackCount());
      return 0;
    case MCI_STATUS_CURRENT_TRACK:
      params.returnValue = static_cast<std::uint32_t>(toc.TrackAt(snap.position));
      return 0;
    case MCI_STATUS_POSITION:
      if (flags & MCI_TRACK) {
        if (!toc.HasTrack(static_cast<int>(params.track))) return MCIERR_OUTOFRANGE;
        params.returnValue = toPosition(toc, toc.TrackStart(static_cast<int>(params.track)));
      } else {
        params.returnValue = toPosition(toc, snap.position);
      }
      return 0;
    case MCI_STATUS_LENGTH: {
      // A length has no track: in TMSF the device answers in MSF, as MCI does.
      std::int32_t frames = toc.leadout - toc.tracks.front().lsn;
      if (flags & MCI_TRACK) {
        const int t = static_cast<int>(params.track);
        if (!toc.HasTrack(t)) return MCIERR_OUTOFRANGE;
        frames = toc.TrackEnd(t) - toc.TrackStart(t);
      }
      params.returnValue = timeFormat_ == MCI_FORMAT_MILLISECONDS
                               ? static_cast<std::uint32_t>(std::int64_t{frames} * 1000 / 75)
                               : tmsf::MsfFromFrames(static_cast<std::uint32_t>(frames));
      return 0;
    }
    default:
      return MCIERR_UNSUPPORTED_FUNCTION;
  }
}

std::uint32_t TransportDriver::send(std::uint16_t command, std::uint32_t flags, MciParams& params) {
  if (command == MCI_OPEN) {
    if (open_) return MCIERR_DEVICE_OPEN;
    if ((flags & MCI_OPEN_TYPE) && !equalsIgnoringCase(params.deviceType, "CDAudio"))
      return MCIERR_INVALID_DEVICE_NAME;
    if (std::uint32_t err = openTransport()) return err;
    open_ = true;
    timeFormat_ = MCI_FORMAT_MSF;
    params.deviceId = 1;
    return 0;
  }
  if (!open_) return MCIERR_INVALID_DEVICE_ID;

  switch (command) {
    case MCI_CLOSE:
      closeTransport();
      open_ = false;
      return 0;
    case MCI_STATUS:
      return status(flags, params);
    case MCI_GETDEVCAPS: {
      if (!(flags & MCI_GETDEVCAPS_ITEM)) return MCIERR_MISSING_PARAMETER;
      switch (params.item) {
        case MCI_GETDEVCAPS_CAN_PLAY:
        case MCI_GETDEVCAPS_HAS_AUDIO:
          params.returnValue = 1;
          return 0;
        case MCI_GETDEVCAPS_CAN_EJECT:
          params.returnValue = canEject() ? 1 : 0;
          return 0;
        case MCI_GETDEVCAPS_DEVICE_TYPE:
          params.returnValue = MCI_DEVTYPE_CD_AUDIO;
          return 0;
        case MCI_GETDEVCAPS_CAN_RECORD:
        case MCI_GETDEVCAPS_HAS_VIDEO:
        case MCI_GETDEVCAPS_USES_FILES:
        case MCI_GETDEVCAPS_COMPOUND_DEVICE:
        case MCI_GETDEVCAPS_CAN_SAVE:
          params.returnValue = 0;
          return 0;
        default:
          return MCIERR_UNSUPPORTED_FUNCTION;
      }
    }
    case MCI_SET:
      if (flags & MCI_SET_TIME_FORMAT) {
        if (params.timeFormat != MCI_FORMAT_TMSF && params.timeFormat != MCI_FORMAT_MSF &&
            params.timeFormat != MCI_FORMAT_MILLISECONDS)
          return MCIERR_BAD_TIME_FORMAT;
        timeFormat_ = params.timeFormat;
      }
      if (flags & MCI_SET_DOOR_OPEN) return canEject() ? openDoor() : MCIERR_UNSUPPORTED_FUNCTION;
      if (flags & MCI_SET_DOOR_CLOSED) return closeDoor();
      return 0;
    case MCI_STOP: {
      Snapshot snap = snapshot();
      if (std::uint32_t err = readyDisc(snap)) return err;
      return stop();
    }
    case MCI_PLAY: {
      Snapshot snap = snapshot();
      if (std::uint32_t err = readyDisc(snap)) return err;
      std::int32_t from = snap.position;
      if (flags & MCI_FROM) {
        auto lsn = fromPosition(*snap.toc, params.from);
        if (!lsn) return MCIERR_OUTOFRANGE;
        from = *lsn;
      }
      return play(from);
    }
    case MCI_SEEK: {
      Snapshot snap = snapshot();
      if (std::uint32_t err = readyDisc(snap)) return err;
      const DiscToc& toc = *snap.toc;
      std::int32_t target;
      if (flags & MCI_SEEK_TO_START) {
        target = toc.tracks.front().lsn;
      } else if (flags & MCI_SEEK_TO_END) {
        target = toc.leadout;
      } else if (flags & MCI_TO) {
        auto lsn = fromPosition(toc, params.to);
        if (!lsn) return MCIERR_OUTOFRANGE;
        target = *lsn;
      } else {
        return MCIERR_MISSING_PARAMETER;
      }
      return seek(target);
    }
    case MCI_WHERE:
      return MCIERR_UNSUPPORTED_FUNCTION;  // a question for video devices only
    default:
      return MCIERR_UNRECOGNIZED_COMMAND;
  }
}

std::uint32_t TransportDriver::sendString(std::string_view command, std::string& answer) {
  answer.clear();
  if (!equalsIgnoringCase(trimmed(command), "info cdaudio identity"))
    return MCIERR_UNRECOGNIZED_COMMAND;
  if (!open_) return MCIERR_INVALID_DEVICE_ID;
  Snapshot snap = snapshot();
  if (std::uint32_t err = readyDisc(snap)) return err;
  answer = snap.toc->IdentityText();
  return 0;
}

std::optional<DiscText> TransportDriver::discText() const {
  if (!open_) return std::nullopt;
  Snapshot snap = snapshot();
  if (readyDisc(snap) != 0) return std::nullopt;
  return snap.toc->text;
}

std::shared_ptr<const DiscToc> TransportDriver::discToc() const {
  if (!open_) return nullptr;
  Snapshot snap = snapshot();
  if (readyDisc(snap) != 0) return nullptr;
  return snap.toc;
}

std::string TransportDriver::errorText(std::uint32_t code) const {
  if (std::string detail = transportErrorText(code); !detail.empty()) return detail;
  switch (code) {
    case MCIERR_INVALID_DEVICE_ID:
      return "The CD audio device is not open.";
    case MCIERR_UNRECOGNIZED_COMMAND:
      return "The CD audio device does not know this command.";
    case MCIERR_HARDWARE:
      return "The CD drive reported a hardware error.";
    case MCIERR_INVALID_DEVICE_NAME:
      return "This is not a CD audio device.";
    case MCIERR_DEVICE_OPEN:
      return "The CD audio device is already open.";
    case MCIERR_CANNOT_LOAD_DRIVER:
      return "No CD drive or CD image could be opened.";
    case MCIERR_MISSING_PARAMETER:
      return "A parameter of the command is missing.";
    case MCIERR_UNSUPPORTED_FUNCTION:
      return "The CD audio device cannot do this.";
    case MCIERR_FILE_NOT_FOUND:
      return "The CD drive or image was not found.";
    case MCIERR_DEVICE_NOT_READY:
      return "The CD drive is not ready.";
    case MCIERR_OUTOFRANGE:
      return "The position is beyond the disc.";
    case MCIERR_BAD_TIME_FORMAT:
      return "The time format is not valid.";
    case MCIERR_DEVICE_LOCKED:
      return "The CD drive is in use by another program.";
    case MCIERR_HARDWARE_NO_MEDIA:
      return "There is no disc in the drive.";
    default:
      return {};
  }
}
