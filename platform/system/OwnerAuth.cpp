#include "platform/system/OwnerAuth.h"

#include "platform/look/ScreenReader.h"
#include "platform/look/Style.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <pwd.h>
#include <security/pam_appl.h>
#include <thread>
#include <unistd.h>

namespace OwnerAuth {

namespace {

constexpr int maxAttempts = 3;

std::optional<QByteArray> currentUser() {
    // getpwuid_r: the conversation thread may look the user up at the same time.
    struct passwd entry {};
    struct passwd* found = nullptr;
    char buffer[4096];
    if (getpwuid_r(getuid(), &entry, buffer, sizeof buffer, &found) != 0 || !found ||
        !found->pw_name || !*found->pw_name)
        return std::nullopt;
    return QByteArray(found->pw_name);
}

void wipe(QByteArray& bytes) {
    if (!bytes.isEmpty()) explicit_bzero(bytes.data(), size_t(bytes.size()));
    bytes.clear();
}

class PasswordDialog;

const char* const questionProperty = "_quillet_ownerAuthQuestion";

// What the conversation thread and the dialog share. Everything but the
// dialog pointer is guarded by the mutex; the dialog pointer is touched on the
// GUI thread only.
struct Channel {
    std::mutex mutex;
    std::condition_variable answered;
    std::optional<QByteArray> answer;
    bool cancelled = false;
    bool asked = false; // PAM put a question to the user
    QPointer<PasswordDialog> dialog; // GUI thread only
};

// Runs `work` on the GUI thread with the dialog, if it is still there.
void toDialog(const std::shared_ptr<Channel>& channel, std::function<void(PasswordDialog&)> work) {
    QMetaObject::invokeMethod(
        qApp,
        [channel, work = std::move(work)] {
            if (channel->dialog) work(*channel->dialog);
        },
        Qt::QueuedConnection);
}

class PasswordDialog : public QDialog {
public:
    PasswordDialog(const QString& title, const QString& message, const QString& accept,
                   QWidget* parent, std::shared_ptr<Channel> channel,
                   std::function<void(Result)> reply)
        : QDialog(parent), m_channel(std::move(channel)), m_reply(std::move(reply)) {
        setWindowTitle(title);
        setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
        // Above every window of the program, the panels that stay on top
        // included: a question hidden beneath one cannot be answered.
        setWindowFlag(Qt::WindowStaysOnTopHint);
        setProperty(questionProperty, true);
        auto* column = new QVBoxLayout(this);
        auto* heading = new QLabel(message, this);
        // Callers name sites and users in it: never markup.
        heading->setTextFormat(Qt::PlainText);
        heading->setAccessibleName(ScreenReader::spoken(message));
        heading->setWordWrap(true);
        QFont bold = heading->font();
        bold.setBold(true);
        heading->setFont(bold);
        column->addWidget(heading);
        m_message = new QLabel(this);
        m_message->setWordWrap(true);
        m_message->setTextFormat(Qt::PlainText); // module texts are never markup
        m_message->hide();
        column->addWidget(m_message);
        m_prompt = new QLabel(this);
        m_prompt->setTextFormat(Qt::PlainText);
        m_prompt->hide();
        column->addWidget(m_prompt);
        m_field = new QLineEdit(this);
        m_field->setEchoMode(QLineEdit::Password);
        m_field->setPlaceholderText(passwordPlaceholder());
        m_field->setAccessibleName(passwordPlaceholder());
        column->addWidget(m_field);
        auto* buttons = new QDialogButtonBox(this);
        // Enter always means the accepting button, never Cancel, wherever the
        // focus is.
        buttons->addButton(QDialogButtonBox::Cancel)->setAutoDefault(false);
        m_unlock = buttons->addButton(accept, QDialogButtonBox::AcceptRole);
        m_unlock->setDefault(true);
        column->addWidget(buttons);
        connect(buttons, &QDialogButtonBox::accepted, this, &PasswordDialog::submit);
        connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
        waiting();
        setMinimumWidth(340);
        // The question and PAM's own words wrap; the prompt and messages
        // come and go while the dialog is open.
        Style::fitHeightToWidth(this);
    }

    ~PasswordDialog() override {
        // Gone (with its parent window, say) before PAM answered: the thread
        // must not wait for an answer that will never come.
        m_destroying = true;
        finish(Result::cancelled);
    }

    // PAM asks for something (a password, usually with "Password: ").
    void ask(const QString& prompt, bool echo) {
        const QString text = prompt.trimmed();
        m_prompt->setText(text);
        m_prompt->setVisible(!text.isEmpty());
        m_field->setEchoMode(echo ? QLineEdit::Normal : QLineEdit::Password);
        m_field->setReadOnly(false);
        m_unlock->setEnabled(true);
        m_field->setFocus();
    }

    bool isAsking() const { return m_unlock->isEnabled(); }

    void inform(const QString& message) {
        m_message->setText(message.trimmed());
        m_message->setVisible(!message.trimmed().isEmpty());
    }

    void finish(Result result) {
        if (m_done) return;
        m_done = true;
        {
            std::lock_guard lock(m_channel->mutex);
            m_channel->cancelled = m_channel->cancelled || result != Result::success;
        }
        m_channel->answered.notify_all();
        m_channel->dialog = nullptr;
        QString typed = m_field->text();
        m_field->clear();
        typed.fill(QChar(0));
        // Moved out first: the reply may delete this dialog's parent.
        const std::function<void(Result)> reply = std::move(m_reply);
        m_reply = nullptr;
        if (!m_destroying) {
            hide();
            deleteLater();
        }
        if (reply) reply(result);
    }

    // Cancel, Escape and the window's close button.
    void reject() override { finish(Result::cancelled); }

private:
    // Nothing to answer until PAM asks. The field keeps the focus (a
    // disabled one would pass it on to a button).
    void waiting() {
        m_field->setReadOnly(true);
        m_unlock->setEnabled(false);
    }

    void submit() {
        if (!isAsking()) return;
        QString typed = m_field->text();
        QByteArray bytes = typed.toUtf8();
        typed.fill(QChar(0));
        m_field->clear();
        waiting();
        {
            std::lock_guard lock(m_channel->mutex);
            m_channel->answer = bytes;
        }
        wipe(bytes);
        m_channel->answered.notify_all();
    }

    std::shared_ptr<Channel> m_channel;
    std::function<void(Result)> m_reply;
    bool m_done = false;
    bool m_destroying = false;
    QLabel* m_message;
    QLabel* m_prompt;
    QLineEdit* m_field;
    QPushButton* m_unlock;
};

struct Conversation {
    std::shared_ptr<Channel> channel;
};

int converse(int count, const struct pam_message** messages, struct pam_response** responses,
             void* data) {
    if (count <= 0 || count > PAM_MAX_NUM_MSG) return PAM_CONV_ERR;
    const std::shared_ptr<Channel> channel = static_cast<Conversation*>(data)->channel;
    auto* replies =
        static_cast<struct pam_response*>(std::calloc(size_t(count), sizeof(struct pam_response)));
    if (!replies) return PAM_BUF_ERR;
    const auto fail = [&] {
        for (int j = 0; j < count; ++j) {
            if (replies[j].resp) {
                explicit_bzero(replies[j].resp, std::strlen(replies[j].resp));
                std::free(replies[j].resp);
            }
        }
        std::free(replies);
        return PAM_CONV_ERR;
    };
    for (int i = 0; i < count; ++i) {
        const struct pam_message* message = messages[i];
        const QString text = QString::fromLocal8Bit(message->msg ? message->msg : "");
        switch (message->msg_style) {
        case PAM_PROMPT_ECHO_OFF:
        case PAM_PROMPT_ECHO_ON: {
            const bool echo = message->msg_style == PAM_PROMPT_ECHO_ON;
            {
                std::lock_guard lock(channel->mutex);
                channel->asked = true;
            }
            toDialog(channel, [text, echo](PasswordDialog& dialog) { dialog.ask(text, echo); });
            std::unique_lock lock(channel->mutex);
            channel->answered.wait(lock, [&] { return channel->cancelled || channel->answer; });
            if (channel->cancelled) return fail();
            QByteArray answer = *channel->answer;
            wipe(*channel->answer);
            channel->answer.reset();
            lock.unlock();
            replies[i].resp = strdup(answer.constData());
            wipe(answer);
            if (!replies[i].resp) return fail();
            break;
        }
        case PAM_ERROR_MSG:
        case PAM_TEXT_INFO:
            toDialog(channel, [text](PasswordDialog& dialog) { dialog.inform(text); });
            break;
        default:
            return fail();
        }
    }
    *responses = replies;
    return PAM_SUCCESS;
}

// The whole PAM transaction, on its own thread.
void authenticate(QByteArray service, QByteArray user, std::shared_ptr<Channel> channel) {
    Conversation conversation{channel};
    const struct pam_conv conv{&converse, &conversation};
    pam_handle_t* handle = nullptr;
    int status = pam_start(service.constData(), user.constData(), &conv, &handle);
    Result result = Result::failed;
    if (status == PAM_SUCCESS) {
        for (int attempt = 1; attempt <= maxAttempts; ++attempt) {
            status = pam_authenticate(handle, 0);
            if (status == PAM_SUCCESS) {
                result = Result::success;
                break;
            }
            bool cancelled;
            {
                std::lock_guard lock(channel->mutex);
                cancelled = channel->cancelled;
            }
            // Only a refused password earns another try; a broken module or
            // conversation would fail the same way again.
            if (cancelled || status != PAM_AUTH_ERR || attempt == maxAttempts) break;
            toDialog(channel, [](PasswordDialog& dialog) {
                dialog.inform(QCoreApplication::translate("OwnerAuth", "Sorry, try again."));
            });
        }
    }
    if (handle) pam_end(handle, status);
    if (result != Result::success) {
        std::lock_guard lock(channel->mutex);
        if (!channel->asked && !channel->cancelled) result = Result::unavailable;
    }
    toDialog(channel, [result](PasswordDialog& dialog) { dialog.finish(result); });
}

} // namespace

QString serviceName() {
    const QString chosen = qEnvironmentVariable("QUILLET_PAM_SERVICE");
    if (!chosen.isEmpty()) return chosen;
    if (QFile::exists(QStringLiteral("/etc/pam.d/quillet"))) return QStringLiteral("quillet");
    return QStringLiteral("other");
}

bool isQuestion(const QWidget* window) {
    for (const QWidget* up = window; up; up = up->parentWidget())
        if (up->property(questionProperty).toBool()) return true;
    return false;
}

void bringQuestionForward(QWidget* over) {
    for (QWidget* window : QApplication::topLevelWidgets()) {
        auto* question = qobject_cast<QDialog*>(window);
        if (!question || !question->property(questionProperty).toBool()) continue;
        QWidget* owner = question->parentWidget() ? question->parentWidget()->window() : nullptr;
        QWidget* wanted = over ? over->window() : owner;
        if (wanted != owner || !question->isVisible()) {
            // Hidden with the window it belonged to, or asked for from
            // another: it moves there, keeping what was typed.
            question->hide();
            question->setParent(wanted, question->windowFlags());
            question->setWindowModality(wanted ? Qt::WindowModal : Qt::ApplicationModal);
            if (wanted) question->move(wanted->geometry().center() - question->rect().center());
            question->show();
        }
        question->raise();
        question->activateWindow();
    }
}

QString passwordPlaceholder() {
    return QCoreApplication::translate("OwnerAuth", "Enter Password");
}

bool canEvaluate() {
    const std::optional<QByteArray> user = currentUser();
    if (!user) return false;
    const struct pam_conv conv{nullptr, nullptr};
    pam_handle_t* handle = nullptr;
    const int status = pam_start(serviceName().toLocal8Bit().constData(), user->constData(), &conv,
                                 &handle);
    if (handle) pam_end(handle, status);
    return status == PAM_SUCCESS;
}

void evaluate(const QString& reason, QWidget* parent, std::function<void(Result)> reply) {
    evaluate(reason, reason, parent, std::move(reply));
}

void evaluate(const QString& title, const QString& message, QWidget* parent,
              std::function<void(Result)> reply) {
    evaluate(title, message, QCoreApplication::translate("OwnerAuth", "Unlock"), parent,
             std::move(reply));
}

void evaluate(const QString& title, const QString& message, const QString& accept,
              QWidget* parent, std::function<void(Result)> reply) {
    const std::optional<QByteArray> user = currentUser();
    auto channel = std::make_shared<Channel>();
    auto* dialog = new PasswordDialog(title, message, accept, parent, channel, std::move(reply));
    channel->dialog = dialog;
    if (parent) {
        // Over the window it belongs to, even before that window is mapped.
        dialog->adjustSize();
        dialog->move(parent->window()->geometry().center() - dialog->rect().center());
    }
    dialog->show();
    if (!user) {
        dialog->finish(Result::unavailable);
        return;
    }
    std::thread(&authenticate, serviceName().toLocal8Bit(), *user, channel).detach();
}

} // namespace OwnerAuth
