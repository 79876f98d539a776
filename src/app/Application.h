#pragma once
// The application object: holds the application title (shown as the icon name of every
// top-level window, which is what taskbars show) and the general error report, which catches
// an exception escaping any event handler or timer tick so that the program goes on.
#include <functional>

#include <QApplication>
#include <QMessageBox>
#include <QString>
#include <QStringList>

class Application : public QApplication {
  Q_OBJECT

 public:
  static constexpr const char* kInitialTitle = "Zarn'sCDPlayer";

  // Shows the error report; tests replace it to see caption, icon and text without a modal loop.
  using ErrorReporter =
      std::function<void(const QString& caption, QMessageBox::Icon icon, const QString& text)>;

  Application(int& argc, char** argv);
  ~Application() override;

  // Null when the application object is not ours (a tool or a test with a plain QApplication).
  static Application* Instance() {
    return qobject_cast<Application*>(QCoreApplication::instance());
  }

  QString Title() const { return title_; }
  void Set_Title(const QString& title);

  // The general error report: captioned with the current title, error icon, the text with a
  // full stop appended by the rule of Error_Text. Every report goes to stderr too; one whose
  // text is on screen already is not shown a second time, since the clock ticks on inside the
  // box and an error that recurs on every refresh would otherwise stack box upon box.
  void Show_Error(const QString& text);
  void Set_Error_Reporter(ErrorReporter reporter);

  // The text appended with a full stop when its last character's code is above that of '.'.
  static QString Error_Text(const QString& text);
  // An exception's message. Our own texts are UTF-8.
  static QString Exception_Text(const std::exception& e);

  // Runs an event handler and shows any error escaping it (Run_Guarded, which the application
  // object reports through). Handlers are guarded where Qt enters them, since an exception must
  // not unwind through Qt's own frames; notify catches whatever else escapes.
  static void Guarded(const std::function<void()>& handler);

  bool notify(QObject* receiver, QEvent* event) override;

 private:
  void Apply_Title(QWidget* window) const;

  QString title_;
  ErrorReporter reporter_;
  QStringList reportsOnScreen_;
};
