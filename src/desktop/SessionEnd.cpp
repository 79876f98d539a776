#include "desktop/SessionEnd.h"

#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <cerrno>

#include <QCoreApplication>
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

}  // namespace

void Quit_Player() {
  // Queued, so that a request made before the message loop runs is not lost: quit() outside
  // a running loop does nothing.
  QTimer::singleShot(0, qApp, [] { QCoreApplication::quit(); });
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
    Quit_Player();
  });

  struct sigaction action {};
  action.sa_handler = On_Signal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int number : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(number, &action, nullptr);
}
