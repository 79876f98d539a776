#pragma once
// The ways the desktop ends the player from outside: SIGTERM and SIGHUP at logout, SIGINT from a
// terminal. Each ends the run through the normal shutdown, so that the settings and both window
// placements are saved as when the main window is closed.
//
// The X session manager needs nothing of ours: at logout Qt asks every window to close, and the
// main window's close ends the loop by the same path; what the session's end leaves running
// afterwards gets SIGTERM.
//
// A signal handler may call nothing of Qt: the handler only writes the signal's number to a pipe,
// and a socket notifier on the GUI thread reads it, answers any box that waits (an error at
// start-up or at exit has no message loop to end) and ends the message loop.

// Installs the handlers. Call once, on the GUI thread, after the application object exists;
// signals that arrive before the message loop runs end it as soon as it starts.
void Install_Session_End_Handlers();

// The normal shutdown: asks the message loop to end (or not to start, when the request comes
// first); main() then hands the windows to End_Player, whose destroy handlers save. The main
// window's close, the overlay's Power Off, the session bus's Quit and the signals all come here.
void Quit_Player();

// Whether Quit_Player() has been called: main() starts no message loop after such a request.
bool Quit_Requested();

// Whether a signal asked the program to end: from then on error reports go to stderr only,
// since nobody is left to answer a box (a logout would wait for it).
bool Ended_By_Signal();
