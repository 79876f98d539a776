#include "app/Application.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>

#include <QFont>
#include <QGuiApplication>
#include <QScopeGuard>
#include <QWidget>
#include <QWindow>

#include <xcb/xcb.h>

#include "app/Glyphs.h"
#include "desktop/SessionEnd.h"
#include "log/Log.h"

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

xcb_atom_t Atom(xcb_connection_t* connection, const char* name) {
  const xcb_intern_atom_cookie_t cookie =
      xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(std::strlen(name)), name);
  xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection, cookie, nullptr);
  const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
  std::free(reply);
  return atom;
}

// Qt's X11 back end fills an empty caption with the application's name (_NET_WM_NAME, which
// window managers show), whenever it sets the caption and when it creates the window. An empty
// caption is a choice of the user's, so it is written empty again after Qt, through the
// connection Qt uses, so that it arrives after Qt's own.
void Keep_Caption_Empty(QWidget* window) {
  const Qt::WindowType type = window->windowType();
  if (type == Qt::Popup || type == Qt::ToolTip || !window->windowTitle().isEmpty()) return;
  auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
  const QWindow* handle = window->windowHandle();
  if (!x11 || !handle || !handle->handle()) return;
  // Other platforms (offscreen among them) may answer the interface without a connection.
  xcb_connection_t* connection = x11->connection();
  if (!connection || QGuiApplication::platformName() != QLatin1String("xcb")) return;
  static const xcb_atom_t netWmName = Atom(connection, "_NET_WM_NAME");
  static const xcb_atom_t utf8String = Atom(connection, "UTF8_STRING");
  if (netWmName == XCB_ATOM_NONE || utf8String == XCB_ATOM_NONE) return;
  xcb_change_property(connection, XCB_PROP_MODE_REPLACE, static_cast<xcb_window_t>(handle->winId()),
                      netWmName, utf8String, 8, 0, nullptr);
  xcb_flush(connection);
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
  qCWarning(lcApp, "%s", qUtf8Printable(report));
  if (reportsOnScreen_.contains(report) || Ended_By_Signal()) return;
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
    qCWarning(lcApp, "%s", qUtf8Printable(text));
}

bool Application::notify(QObject* receiver, QEvent* event) {
  QWidget* window = nullptr;
  if (receiver->isWidgetType() && static_cast<QWidget*>(receiver)->isWindow())
    window = static_cast<QWidget*>(receiver);
  // Windows created after the title was set get it as they are shown.
  if (window && event->type() == QEvent::Show) Apply_Title(window);
  // Both come after Qt has written the caption to the native window: a change of it, and a
  // showing, which follows the native window's creation.
  if (window && (event->type() == QEvent::WindowTitleChange || event->type() == QEvent::Show))
    Keep_Caption_Empty(window);
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& e) {
    Show_Error(Exception_Text(e));
  } catch (...) {
    Show_Error(QStringLiteral("Unknown error"));
  }
  return false;
}
