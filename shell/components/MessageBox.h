#pragma once
// Every message box of the desktop shell is shown through these functions. While a hook is
// installed (tests) no box appears: the hook sees each request and gives the answer, so a
// modal box can never block a test.

#include "core/WindowOps.h"

#include <QString>
#include <functional>
#include <memory>

class QMessageBox;

enum class TMsgIcon { None, Error, Question };

struct TMessageBoxRequest {
    QString Text;
    QString Caption;
    TMsgIcon Icon = TMsgIcon::None;
    TMsgButtons Buttons = TMsgButtons::OK;
};

// A modal box with no owner window, centred on the screen; returns when it is dismissed.
// Escape and the close box answer No in a Yes/No box.
TMsgAnswer ShowMessageBox(const TMessageBoxRequest& request);

// A box with no owner window that does not block the window thread: `done` receives the
// answer once the user dismisses it. Several may be open at once. Returns the box (it deletes
// itself when closed), or none when the hook answered at once.
QMessageBox* ShowMessageBoxAsync(const TMessageBoxRequest& request,
                                 std::function<void(TMsgAnswer)> done);

// The application's title, the caption of the framework's own boxes.
QString ApplicationTitle();

// The framework's plain box: the text, one OK button, no icon, captioned with the title.
void ShowPlainMessage(const QString& text);

// The framework's display of an error raised in a window handler: captioned with the title,
// the error icon, and a "." appended when the text's last character sorts after ".".
void ShowApplicationError(const QString& errorText);
QString ApplicationErrorText(const QString& errorText);
// The same display without waiting for it: the box is modal for the whole application, as
// the default display is, so the user cannot raise the same error again behind it, and it
// stays above the program's windows; the window thread goes on meanwhile. Returns the box,
// or none when the hook answered.
QMessageBox* ShowApplicationErrorAsync(const QString& errorText);

using TMessageBoxHook = std::function<TMsgAnswer(const TMessageBoxRequest&)>;
// Installs the hook (an empty one removes it). Window thread only.
void SetMessageBoxHookForTests(TMessageBoxHook hook);
