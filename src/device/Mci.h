#pragma once
// The Media Control Interface values the player sends and the CD audio device answers with.
#include <cstdint>

namespace mci {

// Commands
constexpr std::uint16_t MCI_OPEN = 0x0803;
constexpr std::uint16_t MCI_CLOSE = 0x0804;
constexpr std::uint16_t MCI_PLAY = 0x0806;
constexpr std::uint16_t MCI_SEEK = 0x0807;
constexpr std::uint16_t MCI_STOP = 0x0808;
constexpr std::uint16_t MCI_GETDEVCAPS = 0x080B;
constexpr std::uint16_t MCI_SET = 0x080D;
constexpr std::uint16_t MCI_STATUS = 0x0814;
constexpr std::uint16_t MCI_WHERE = 0x0843;

// Flags common to all commands
constexpr std::uint32_t MCI_NOTIFY = 0x00000001;
constexpr std::uint32_t MCI_WAIT = 0x00000002;
constexpr std::uint32_t MCI_FROM = 0x00000004;
constexpr std::uint32_t MCI_TO = 0x00000008;
constexpr std::uint32_t MCI_TRACK = 0x00000010;

// Command-specific flags
constexpr std::uint32_t MCI_OPEN_TYPE = 0x00002000;
constexpr std::uint32_t MCI_OPEN_SHAREABLE = 0x00000100;
constexpr std::uint32_t MCI_SEEK_TO_START = 0x00000100;
constexpr std::uint32_t MCI_SEEK_TO_END = 0x00000200;
constexpr std::uint32_t MCI_SET_DOOR_OPEN = 0x00000100;
constexpr std::uint32_t MCI_SET_DOOR_CLOSED = 0x00000200;
constexpr std::uint32_t MCI_SET_TIME_FORMAT = 0x00000400;
constexpr std::uint32_t MCI_STATUS_ITEM = 0x00000100;
constexpr std::uint32_t MCI_GETDEVCAPS_ITEM = 0x00000100;
constexpr std::uint32_t MCI_DGV_WHERE_SOURCE = 0x00020000;

// MCI_STATUS items
constexpr std::uint32_t MCI_STATUS_LENGTH = 1;
constexpr std::uint32_t MCI_STATUS_POSITION = 2;
constexpr std::uint32_t MCI_STATUS_NUMBER_OF_TRACKS = 3;
constexpr std::uint32_t MCI_STATUS_MODE = 4;
constexpr std::uint32_t MCI_STATUS_MEDIA_PRESENT = 5;
constexpr std::uint32_t MCI_STATUS_TIME_FORMAT = 6;
constexpr std::uint32_t MCI_STATUS_READY = 7;
constexpr std::uint32_t MCI_STATUS_CURRENT_TRACK = 8;

// MCI_GETDEVCAPS items
constexpr std::uint32_t MCI_GETDEVCAPS_CAN_RECORD = 1;
constexpr std::uint32_t MCI_GETDEVCAPS_HAS_AUDIO = 2;
constexpr std::uint32_t MCI_GETDEVCAPS_HAS_VIDEO = 3;
constexpr std::uint32_t MCI_GETDEVCAPS_DEVICE_TYPE = 4;
constexpr std::uint32_t MCI_GETDEVCAPS_USES_FILES = 5;
constexpr std::uint32_t MCI_GETDEVCAPS_COMPOUND_DEVICE = 6;
constexpr std::uint32_t MCI_GETDEVCAPS_CAN_EJECT = 7;
constexpr std::uint32_t MCI_GETDEVCAPS_CAN_PLAY = 8;
constexpr std::uint32_t MCI_GETDEVCAPS_CAN_SAVE = 9;

constexpr std::uint32_t MCI_DEVTYPE_CD_AUDIO = 516;

// Mode answers of MCI_STATUS_MODE
constexpr std::uint32_t MCI_MODE_NOT_READY = 524;
constexpr std::uint32_t MCI_MODE_STOP = 525;
constexpr std::uint32_t MCI_MODE_PLAY = 526;
constexpr std::uint32_t MCI_MODE_RECORD = 527;
constexpr std::uint32_t MCI_MODE_SEEK = 528;
constexpr std::uint32_t MCI_MODE_PAUSE = 529;
constexpr std::uint32_t MCI_MODE_OPEN = 530;

// Time formats
constexpr std::uint32_t MCI_FORMAT_MILLISECONDS = 0;
constexpr std::uint32_t MCI_FORMAT_MSF = 2;
constexpr std::uint32_t MCI_FORMAT_TMSF = 10;

// Result codes (0 is success)
constexpr std::uint32_t MCIERR_BASE = 256;
constexpr std::uint32_t MCIERR_INVALID_DEVICE_ID = MCIERR_BASE + 1;
constexpr std::uint32_t MCIERR_UNRECOGNIZED_COMMAND = MCIERR_BASE + 5;
constexpr std::uint32_t MCIERR_HARDWARE = MCIERR_BASE + 6;
constexpr std::uint32_t MCIERR_INVALID_DEVICE_NAME = MCIERR_BASE + 7;
constexpr std::uint32_t MCIERR_DEVICE_OPEN = MCIERR_BASE + 9;
constexpr std::uint32_t MCIERR_CANNOT_LOAD_DRIVER = MCIERR_BASE + 10;
constexpr std::uint32_t MCIERR_MISSING_PARAMETER = MCIERR_BASE + 17;
constexpr std::uint32_t MCIERR_UNSUPPORTED_FUNCTION = MCIERR_BASE + 18;
constexpr std::uint32_t MCIERR_FILE_NOT_FOUND = MCIERR_BASE + 19;
constexpr std::uint32_t MCIERR_DEVICE_NOT_READY = MCIERR_BASE + 20;
constexpr std::uint32_t MCIERR_INTERNAL = MCIERR_BASE + 21;
constexpr std::uint32_t MCIERR_OUTOFRANGE = MCIERR_BASE + 26;
constexpr std::uint32_t MCIERR_BAD_TIME_FORMAT = MCIERR_BASE + 37;
constexpr std::uint32_t MCIERR_DEVICE_LOCKED = MCIERR_BASE + 32;
constexpr std::uint32_t MCIERR_HARDWARE_NO_MEDIA = MCIERR_BASE + 56;  // this driver's "no disc"

// The player's device-mode numbering: low byte of the MCI mode minus 12, modulo 256.
enum DeviceMode : std::uint8_t {
  Mode_Not_Ready = 0,
  Mode_Stopped = 1,
  Mode_Playing = 2,
  Mode_Recording = 3,
  Mode_Seeking = 4,
  Mode_Paused = 5,
  Mode_Open = 6,
};

}  // namespace mci
