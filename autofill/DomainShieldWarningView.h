#pragma once

#include "autofill/DomainShield.h"

#include <QWidget>
#include <functional>

class QLabel;
class QPushButton;

// The warning shown instead of filling a code into a site that does not
// belong to the account's issuer. The user refuses ("Don't Fill", which has
// the focus, also Return and Escape) or fills all the same ("Fill Anyway").
// The view only reports the choice; whoever shows it decides what happens
// next.
class DomainShieldWarningView : public QWidget {
    Q_OBJECT

public:
    // The size the view asks for when it is the whole content of a window.
    static constexpr QSize preferredSize{380, 340};

    DomainShieldWarningView(const DomainShieldWarning& warning, const QString& accountLabel,
                            std::function<void()> onFillAnyway, std::function<void()> onCancel,
                            QWidget* parent = nullptr);

    QSize sizeHint() const override { return preferredSize; }

    // The message as rich text: the hosts in bold, every inserted value
    // escaped, so a host name can never carry markup of its own, and the
    // hosts as HostText::shown writes them.
    static QString message(const DomainShieldWarning& warning, const QString& accountLabel);

protected:
    void showEvent(QShowEvent* event) override;

private:
    std::function<void()> m_onFillAnyway;
    std::function<void()> m_onCancel;
};
