#include "ui/Guarded.h"

#include <exception>
#include <utility>

#include "log/Log.h"

namespace {

std::function<void(const QString&)>& Report() {
  static std::function<void(const QString&)> report;
  return report;
}

}  // namespace

void Set_Guarded_Report(std::function<void(const QString& text)> report) {
  Report() = std::move(report);
}

void Run_Guarded(const std::function<void()>& handler) {
  QString text;
  try {
    handler();
    return;
  } catch (const std::exception& e) {
    // Our own texts are UTF-8.
    text = QString::fromUtf8(e.what());
  } catch (...) {
    text = QStringLiteral("Unknown error");
  }
  if (Report())
    Report()(text);
  else
    qCWarning(lcApp, "%s", qUtf8Printable(text));
}
