#include "device/CdAudioDevice.h"

#include "device/Tmsf.h"

using namespace mci;

CdAudioDevice::CdAudioDevice(std::unique_ptr<CdDriver> driver) : driver_(std::move(driver)) {}

CdAudioDevice::~CdAudioDevice() {
  if (open_) {
    MciParams params;
    driver_->send(MCI_CLOSE, MCI_WAIT, params);
  }
}

void CdAudioDevice::Loaded() {
  if (AutoOpen) Device_Open();
}

void CdAudioDevice::CheckOpen() const {
  if (!open_) throw EMCIDeviceError(kNotOpenText);
}

std::uint32_t CdAudioDevice::PlayFlags() {
  std::uint32_t flags = MCI_NOTIFY;
  if (notify_.pending) {
    if (!notify_.value) flags &= ~MCI_NOTIFY;
    notify_.pending = false;
  }
  if (wait_.pending) {
    if (wait_.value) flags |= MCI_WAIT;
    wait_.pending = false;
  }
  if (from_.pending) flags |= MCI_FROM;  // cleared where the position is taken
  return flags;
}

std::uint32_t CdAudioDevice::CommandFlags() {
  std::uint32_t flags = MCI_WAIT;
  if (wait_.pending) {
    if (!wait_.value) flags &= ~MCI_WAIT;
    wait_.pending = false;
  }
  if (notify_.pending) {
    if (notify_.value) flags |= MCI_NOTIFY;
    notify_.pending = false;
  }
  return flags;
}

std::uint32_t CdAudioDevice::Send(std::uint16_t command, std::uint32_t flags, MciParams& params,
                                  bool record) {
  const std::uint32_t result = driver_->send(command, flags, params);
  if (record) lastError_ = static_cast<std::int32_t>(result);
  return result;
}

std::uint32_t CdAudioDevice::Status(std::uint32_t item, std::uint32_t extraFlags,
                                    std::uint32_t track, bool record) {
  MciParams params;
  params.item = item;
  params.track = track;
  if (Send(MCI_STATUS, MCI_STATUS_ITEM | MCI_WAIT | extraFlags, params, record) != 0) return 0;
  return params.returnValue;
}

void CdAudioDevice::Device_Open() {
  if (open_) Device_Close();
  MciParams params;
  params.deviceType = "CDAudio";
  // Never MCI_OPEN_SHAREABLE: the device is this program's alone while it is open.
  const std::uint32_t result = Send(MCI_OPEN, CommandFlags() | MCI_OPEN_TYPE, params, true);
  if (result != 0) {
    std::string text = driver_->errorText(result);
    throw EMCIDeviceError(text.empty() ? kUnknownErrorText : text);
  }
  open_ = true;
  deviceId_ = static_cast<std::uint16_t>(params.deviceId);
  Device_Length();  // only frame stepping would need it
  for (std::uint32_t item :
       {MCI_GETDEVCAPS_CAN_PLAY, MCI_GETDEVCAPS_CAN_RECORD, MCI_GETDEVCAPS_CAN_EJECT,
        MCI_GETDEVCAPS_HAS_VIDEO, MCI_GETDEVCAPS_DEVICE_TYPE}) {
    MciParams caps;
    caps.item = item;
    const bool ok = Send(MCI_GETDEVCAPS, MCI_GETDEVCAPS_ITEM | MCI_WAIT, caps, false) == 0;
    if (item == MCI_GETDEVCAPS_CAN_EJECT) canEject_ = ok && caps.returnValue != 0;
  }
  MciParams where;
  Send(MCI_WHERE, MCI_DGV_WHERE_SOURCE, where, true);
  Device_Set_Time_Format(MCI_FORMAT_TMSF);
}

void CdAudioDevice::Device_Close() {
  if (deviceId_ == 0) return;
  MciParams params;
  if (Send(MCI_CLOSE, CommandFlags(), params, true) == 0) {
    open_ = false;
    deviceId_ = 0;
  }
}

void CdAudioDevice::Device_Play() {
  CheckOpen();
  if (AutoRewind && !from_.pending && Device_Position() == Device_Length()) {
    MciParams rewind;
    Send(MCI_SEEK, MCI_SEEK_TO_START | MCI_WAIT, rewind, false);
  }
  MciParams params;
  const std::uint32_t flags = PlayFlags();
  if (flags & MCI_FROM) {
    params.from = from_.value;
    from_.pending = false;
  }
  Send(MCI_PLAY, flags, params, true);
}

void CdAudioDevice::Device_Stop() {
  CheckOpen();
  MciParams params;
  Send(MCI_STOP, CommandFlags(), params, true);
}

void CdAudioDevice::SeekTo(std::uint32_t flags, std::uint32_t position) {
  MciParams params;
  params.to = position;
  Send(MCI_SEEK, flags | MCI_TO, params, true);
}

void CdAudioDevice::Device_Seek(std::uint32_t position) {
  CheckOpen();
  SeekTo(CommandFlags(), position);
}

void CdAudioDevice::Device_Next() {
  CheckOpen();
  const std::uint32_t flags = CommandFlags();
  if (Device_Time_Format() != MCI_FORMAT_TMSF) {
    MciParams params;
    Send(MCI_SEEK, flags | MCI_SEEK_TO_END, params, true);
    return;
  }
  const std::uint8_t mode = Device_Mode();
  const std::uint32_t t = tmsf::Track(Device_Position());
  const std::uint32_t tracks = Device_Tracks();
  const std::uint32_t target = t == tracks ? tracks : t + 1;
  const std::uint32_t p = Device_Track_Position(target);
  if (mode == Mode_Playing) {
    Device_Set_From(p);
    Device_Play();
  } else {
    SeekTo(flags, p);
  }
}

void CdAudioDevice::Device_Previous() {
  CheckOpen();
  const std::uint32_t flags = CommandFlags();
  if (Device_Time_Format() != MCI_FORMAT_TMSF) {
    MciParams params;
    Send(MCI_SEEK, flags | MCI_SEEK_TO_START, params, true);
    return;
  }
  const std::uint32_t a = Device_Position();
  const std::uint32_t t = tmsf::Track(a);
  const std::uint32_t b = Device_Track_Position(t);
  std::uint32_t target = b;
  if (t != 1 && tmsf::Minutes(a) == tmsf::Minutes(b) && tmsf::Seconds(a) == tmsf::Seconds(b))
    target = Device_Track_Position(t - 1);
  if (Device_Mode() == Mode_Playing) {
    Device_Set_From(target);
    Device_Play();
  } else {
    SeekTo(flags, target);
  }
}

void CdAudioDevice::Device_Eject() {
  CheckOpen();
  if (!canEject_) return;
  MciParams params;
  Send(MCI_SET, CommandFlags() | MCI_SET_DOOR_OPEN, params, true);
}

void CdAudioDevice::Device_Set_Wait(bool wait) {
  wait_ = {wait, true};
}
void CdAudioDevice::Device_Set_Notify(bool notify) {
  notify_ = {notify, true};
}
void CdAudioDevice::Device_Set_From(std::uint32_t position) {
  from_ = {position, true};
}

void CdAudioDevice::Device_Set_Time_Format(std::uint32_t format) {
  MciParams params;
  params.timeFormat = format;
  Send(MCI_SET, MCI_NOTIFY | MCI_SET_TIME_FORMAT, params, true);
}

std::uint8_t CdAudioDevice::Device_Mode() {
  MciParams params;
  params.item = MCI_STATUS_MODE;
  if (Send(MCI_STATUS, MCI_STATUS_ITEM | MCI_WAIT, params, true) != 0) return Mode_Not_Ready;
  return static_cast<std::uint8_t>((params.returnValue & 0xFF) - 12);
}

std::uint32_t CdAudioDevice::Device_Position() {
  return Status(MCI_STATUS_POSITION);
}

std::uint32_t CdAudioDevice::Device_Tracks() {
  CheckOpen();
  return Status(MCI_STATUS_NUMBER_OF_TRACKS);
}

std::uint32_t CdAudioDevice::Device_Track_Position(std::uint32_t track) {
  return Status(MCI_STATUS_POSITION, MCI_TRACK, track, false);
}

std::uint32_t CdAudioDevice::Device_Length() {
  CheckOpen();
  return Status(MCI_STATUS_LENGTH);
}

std::uint8_t CdAudioDevice::Device_Time_Format() {
  CheckOpen();
  return static_cast<std::uint8_t>(Status(MCI_STATUS_TIME_FORMAT) & 0xFF);
}

std::optional<std::string> CdAudioDevice::Device_Disc_Identity() {
  std::string answer;
  identityError_ = driver_->sendString("info cdaudio identity", answer);
  if (identityError_ != 0) {
    (void)driver_->errorText(identityError_);  // fetched and dropped, as the caller shows nothing
    return std::nullopt;
  }
  if (answer.size() > 254) answer.resize(254);  // the answer buffer holds 255 characters
  return answer;
}
