#pragma once
// Event handlers that Qt enters run guarded: an exception must not unwind through Qt's own
// frames, so it is caught where the handler starts and shown as the program's error report, and
// the program goes on. Whoever shows the report (the application object) says so once; until
// then, and after it, the text goes to stderr only.
#include <functional>

#include <QString>

// Runs `handler` and reports the message of any exception escaping it.
void Run_Guarded(const std::function<void()>& handler);

// Who shows the report; an empty function leaves it to stderr.
void Set_Guarded_Report(std::function<void(const QString& text)> report);
