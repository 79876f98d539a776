#pragma once
// The program's one way to say something on stderr: a Qt logging category per subsystem, so that
// a user can silence or widen one with QT_LOGGING_RULES (e.g. "zarncd.playback.warning=false").
// Messages come out as "<category>: <text>".
#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcApp)       // zarncd.app: error reports, start-up and exit
Q_DECLARE_LOGGING_CATEGORY(lcDevice)    // zarncd.device: the drive and the CD access layer
Q_DECLARE_LOGGING_CATEGORY(lcPlayback)  // zarncd.playback: images, their files, sound output
Q_DECLARE_LOGGING_CATEGORY(lcDisc)      // zarncd.disc: identification and names
Q_DECLARE_LOGGING_CATEGORY(lcSettings)  // zarncd.settings: the settings file
Q_DECLARE_LOGGING_CATEGORY(lcOverlay)   // zarncd.overlay: the see-through window
Q_DECLARE_LOGGING_CATEGORY(lcDesktop)   // zarncd.desktop: the session bus, signals, dropped images
