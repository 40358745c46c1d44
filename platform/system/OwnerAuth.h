#pragma once

#include <QString>
#include <functional>

class QWidget;

// Proving that the person at the computer is its user: PAM for the current
// user, behind a small password dialog. The PAM conversation runs on a
// thread of its own, so a slow module (a fingerprint reader, a network
// directory, pam_unix's delay after a wrong password) never holds up the
// window; the reply always arrives on the GUI thread.
namespace OwnerAuth {

enum class Result {
    success,
    // The stack refused: a wrong password three times, a module that failed,
    // a conversation that broke. The caller stays as locked as it was.
    failed,
    // The user closed the dialog.
    cancelled,
    // The system refused before asking anything: no stack could be opened,
    // or it failed without a question (a module that denies everyone, a
    // module that is missing, an account without a password). Whoever wants
    // the user to prove themselves later cannot count on it.
    unavailable,
};

// The PAM service: $QUILLET_PAM_SERVICE when set, else "quillet" when
// /etc/pam.d/quillet exists (cmake --install puts it there), else "other",
// the system's fallback stack.
QString serviceName();

// False only when this user cannot be authenticated at all: the user is not
// known to the system, or PAM cannot open a stack for the service. Everything
// that goes wrong later, while asking, is a failure instead.
bool canEvaluate();

// Shows the password dialog with `reason` as its title and heading ("Unlock
// Quillet"), window-modal over `parent` when one is given, and runs PAM's
// authentication for the current user; a wrong password may be tried again
// up to three times in the same dialog. `reply` runs exactly once, on the GUI
// thread. Needs a running QApplication.
void evaluate(const QString& reason, QWidget* parent, std::function<void(Result)> reply);

// The same dialog titled `title`, with `message` (plain text, wrapped) as its
// heading: for a caller whose reason is a whole sentence naming what it is for.
void evaluate(const QString& title, const QString& message, QWidget* parent,
              std::function<void(Result)> reply);

// The same with `accept` on the accepting button in place of "Unlock", for a
// question that unlocks nothing (turning the lock on).
void evaluate(const QString& title, const QString& message, const QString& accept,
              QWidget* parent, std::function<void(Result)> reply);

// Whether `window` is a question of this layer, or a window of its own.
bool isQuestion(const QWidget* window);

// Brings the open question (if any) in front of `over`'s window, as its
// own, and gives it the keyboard: it moves there when it belonged to another
// window, or was hidden with its own. Without `over` it stays where it is.
void bringQuestionForward(QWidget* over);

// The dialog's texts, for those who look for it on screen.
QString passwordPlaceholder(); // "Enter Password"

} // namespace OwnerAuth
