#include "log/Log.h"

Q_LOGGING_CATEGORY(lcApp, "zarncd.app")
Q_LOGGING_CATEGORY(lcDevice, "zarncd.device")
Q_LOGGING_CATEGORY(lcPlayback, "zarncd.playback")
Q_LOGGING_CATEGORY(lcDisc, "zarncd.disc")
Q_LOGGING_CATEGORY(lcSettings, "zarncd.settings")
Q_LOGGING_CATEGORY(lcOverlay, "zarncd.overlay")
Q_LOGGING_CATEGORY(lcDesktop, "zarncd.desktop")
