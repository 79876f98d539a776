#include "app/Application.h"

#include <cstdio>
#include <exception>

#include <QFont>
#include <QScopeGuard>
#include <QWidget>

#include "app/Glyphs.h"

namespace {

void Show_Message_Box(const QString& caption, QMessageBox::Icon icon, const QString& text) {
  QMessageBox box(icon, caption, text, QMessageBox::Ok);
  box.exec();
}

// The faces the layout was drawn with are Windows fonts; point them at installed faces of the same
// kind and metrics. The Japanese names stay as they are, since settings files store them.
void Install_Font_Substitutes() {
  QFont::insertSubstitutions(QStringLiteral("Arial"),
                             {QStringLiteral("Liberation Sans"), QStringLiteral("Arimo")});
  const QStringList gothic = {QStringLiteral("IPAGothic"), QStringLiteral("IPAexGothic"),
                              QStringLiteral("Noto Sans Mono CJK JP"), QStringLiteral("VL Gothic"),
                              QStringLiteral("TakaoGothic")};
  QFont::insertSubstitutions(QStringLiteral("ＭＳ ゴシック"), gothic);
  QFont::insertSubstitutions(QStringLiteral("MS Gothic"), gothic);
  const QStringList mincho = {QStringLiteral("IPAMincho"), QStringLiteral("IPAexMincho"),
                              QStringLiteral("Noto Serif CJK JP"), QStringLiteral("TakaoMincho")};
  QFont::insertSubstitutions(QStringLiteral("ＭＳ 明朝"), mincho);
  QFont::insertSubstitutions(QStringLiteral("MS Mincho"), mincho);
}

}  // namespace

Application::Application(int& argc, char** argv)
    : QApplication(argc, argv), title_(QString::fromUtf8(kInitialTitle)) {
  Install_Font_Substitutes();
  setWindowIcon(QIcon(QPixmap::fromImage(Program_Icon())));
  reporter_ = Show_Message_Box;
}

Application::~Application() = default;

void Application::Set_Title(const QString& title) {
  title_ = title;
  for (QWidget* w : topLevelWidgets()) Apply_Title(w);
}

void Application::Apply_Title(QWidget* window) const {
  const Qt::WindowType type = window->windowType();
  if (type == Qt::Popup || type == Qt::ToolTip) return;
  if (window->windowIconText() != title_) window->setWindowIconText(title_);
}

void Application::Set_Error_Reporter(ErrorReporter reporter) {
  reporter_ = reporter ? std::move(reporter) : ErrorReporter(Show_Message_Box);
}

QString Application::Error_Text(const QString& text) {
  if (!text.isEmpty() && text.back().unicode() > u'.') return text + QLatin1Char('.');
  return text;
}

QString Application::Exception_Text(const std::exception& e) {
  return QString::fromUtf8(e.what());
}

void Application::Show_Error(const QString& text) {
  const QString report = Error_Text(text);
  std::fprintf(stderr, "zarncd: %s\n", qUtf8Printable(report));
  if (reportsOnScreen_.contains(report)) return;
  reportsOnScreen_.append(report);
  const auto closed = qScopeGuard([this, report] { reportsOnScreen_.removeOne(report); });
  reporter_(title_, QMessageBox::Critical, report);
}

void Application::Guarded(const std::function<void()>& handler) {
  QString text;
  try {
    handler();
    return;
  } catch (const std::exception& e) {
    text = Exception_Text(e);
  } catch (...) {
    text = QStringLiteral("Unknown error");
  }
  if (Application* app = Instance())
    app->Show_Error(text);
  else
    qWarning("%s", qUtf8Printable(text));
}

bool Application::notify(QObject* receiver, QEvent* event) {
  // Windows created after the title was set get it as they are shown.
  if (event->type() == QEvent::Show && receiver->isWidgetType()) {
    auto* w = static_cast<QWidget*>(receiver);
    if (w->isWindow()) Apply_Title(w);
  }
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& e) {
    Show_Error(Exception_Text(e));
  } catch (...) {
    Show_Error(QStringLiteral("Unknown error"));
  }
  return false;
}
