#include "desktop/SessionEnd.h"

#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <cerrno>

#include <QApplication>
#include <QDialog>
#include <QSocketNotifier>
#include <QTimer>

#include "log/Log.h"

namespace {

int Signal_Pipe[2] = {-1, -1};

extern "C" void On_Signal(int number) {
  const int saved = errno;  // the interrupted code may be about to read errno
  const unsigned char byte = static_cast<unsigned char>(number);
  // A full pipe already holds a request to quit; losing this one changes nothing.
  [[maybe_unused]] const ssize_t written = ::write(Signal_Pipe[1], &byte, 1);
  errno = saved;
}

bool Quit_Asked = false;
bool Signalled = false;

// A box waiting for its answer runs an event loop of its own, which quit() ends only while the
// message loop runs: before it (an error at start-up) and after it (a failed save at exit) the
// box would wait for ever. Each is answered as its Escape key would answer it.
void Close_Modal_Boxes() {
  for (int left = 100; left > 0; --left) {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal) return;
    if (auto* dialog = qobject_cast<QDialog*>(modal))
      dialog->reject();
    else
      modal->close();
    if (QApplication::activeModalWidget() == modal) modal->hide();
  }
}

}  // namespace

void Quit_Player() {
  Quit_Asked = true;
  // Queued, so that a request made before the message loop runs is not lost: quit() outside
  // a running loop does nothing. (A box's loop may run the timer before the message loop
  // starts; main() asks Quit_Requested() before starting it.)
  QTimer::singleShot(0, qApp, [] { QCoreApplication::quit(); });
}

bool Quit_Requested() {
  return Quit_Asked;
}

bool Ended_By_Signal() {
  return Signalled;
}

void Install_Session_End_Handlers() {
  if (Signal_Pipe[0] >= 0) return;
  if (::pipe2(Signal_Pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    qCWarning(lcDesktop) << "cannot catch signals: no pipe:" << qt_error_string(errno);
    return;
  }
  auto* notifier = new QSocketNotifier(Signal_Pipe[0], QSocketNotifier::Read, qApp);
  QObject::connect(notifier, &QSocketNotifier::activated, qApp, [] {
    unsigned char byte = 0;
    while (::read(Signal_Pipe[0], &byte, 1) == 1) {
    }
    Signalled = true;
    Close_Modal_Boxes();
    Quit_Player();
  });

  struct sigaction action {};
  action.sa_handler = On_Signal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int number : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(number, &action, nullptr);
}
