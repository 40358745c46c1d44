#include "system/HotKeyRecorder.h"

#include "platform/desktop/GlobalHotKey.h"
#include "system/HotKey.h"

#include <QApplication>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QStyle>
#include <QStyleOptionButton>

namespace {

bool isModifierKey(int key) {
    switch (key) {
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Meta:
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
    case Qt::Key_CapsLock:
    case Qt::Key_NumLock:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
    case Qt::Key_Hyper_L:
    case Qt::Key_Hyper_R:
    case Qt::Key_Mode_switch:
        return true;
    default:
        return false;
    }
}

std::optional<quint32> storedKeyCode(const QKeyEvent& event) {
    // The X key itself where there is one: Shift+1 arrives as "!".
    if (const std::optional<quint32> code =
            GlobalHotKey::keyCodeForNativeScanCode(event.nativeScanCode()))
        return code;
    return HotKey::keyCodeForQtKey(event.key());
}

} // namespace

HotKeyRecorder::HotKeyRecorder(QWidget* parent) : QPushButton(parent) {
    setFocusPolicy(Qt::StrongFocus);
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSizeF(QApplication::font().pointSizeF());
    font.setWeight(QFont::Medium);
    setFont(font);
    connect(this, &QPushButton::clicked, this, &HotKeyRecorder::toggleRecord);
    connect(&GlobalHotKey::dispatcher(), &GlobalHotKey::Dispatcher::suspensionAnswered, this,
            &HotKeyRecorder::showSuspendedKeys);
    refreshTitle();
}

// The suspension ends with the recorder.
HotKeyRecorder::~HotKeyRecorder() {
    if (m_recording) releaseKeyboard();
}

void HotKeyRecorder::setCombination(quint32 keyCode, quint32 modifiers) {
    if (m_recording || (keyCode == m_keyCode && modifiers == m_modifiers)) return;
    m_keyCode = keyCode;
    m_modifiers = modifiers;
    refreshTitle();
}

void HotKeyRecorder::toggleRecord() { setRecording(!m_recording); }

void HotKeyRecorder::setRecording(bool recording) {
    if (recording == m_recording) return;
    m_recording = recording;
    if (recording) {
        m_suspension = std::make_unique<GlobalHotKey::Suspension>();
        setFocus(Qt::OtherFocusReason);
        // Every key, also one another program grabbed, comes here now.
        grabKeyboard();
    } else {
        releaseKeyboard();
        m_suspension.reset();
    }
    setNotice(QString());
    refreshTitle();
    emit recordingChanged(recording);
}

void HotKeyRecorder::showSuspendedKeys() {
    if (!m_recording || !m_notice.isEmpty()) return;
    if (GlobalHotKey::suspendedKeys() == GlobalHotKey::SuspendedKeys::desktopKeepsSome)
        setNotice(tr("This desktop keeps the combinations of its own shortcuts, and of "
                     "Quillet's other hotkeys, from reaching the recorder; those cannot be "
                     "recorded here."));
}

void HotKeyRecorder::setNotice(const QString& notice) {
    if (notice == m_notice) return;
    m_notice = notice;
    emit noticeChanged(notice);
}

QSize HotKeyRecorder::promptSize() const {
    QStyleOptionButton option;
    option.initFrom(this);
    const QSize text(fontMetrics().horizontalAdvance(tr("Press a key combo…")),
                     fontMetrics().height());
    return style()->sizeFromContents(QStyle::CT_PushButton, &option, text, this);
}

void HotKeyRecorder::refreshTitle() {
    if (m_recording)
        setText(tr("Press a key combo…"));
    else if (m_keyCode == 0)
        setText(tr("Click to set"));
    else
        setText(HotKey::comboString(m_keyCode, m_modifiers));
}

bool HotKeyRecorder::event(QEvent* event) {
    if (m_recording) {
        // Keys go to the recording first: window shortcuts (Control+W,
        // Escape) and focus moves (Tab) must not take them.
        if (event->type() == QEvent::ShortcutOverride) {
            event->accept();
            return true;
        }
        if (event->type() == QEvent::KeyPress) {
            keyPressEvent(static_cast<QKeyEvent*>(event));
            return true;
        }
    }
    return QPushButton::event(event);
}

void HotKeyRecorder::keyPressEvent(QKeyEvent* event) {
    if (!m_recording) {
        QPushButton::keyPressEvent(event);
        return;
    }
    event->accept();
    if (event->key() == Qt::Key_Escape) {
        setRecording(false);
        return;
    }
    if (isModifierKey(event->key())) return; // still choosing modifiers
    const quint32 mask = HotKey::carbonModifiers(event->modifiers());
    const std::optional<quint32> code = storedKeyCode(*event);
    // Key code 0 stands for "no key" in a stored binding, so the key that
    // carries it (A) could never be registered: refused like a key without
    // a modifier rather than stored as a combination that never works.
    if (mask == 0 || !code || *code == 0) {
        QApplication::beep();
        return;
    }
    // Taken already: said, and the user may press another.
    if (m_check) {
        const QString refusal = m_check(*code, mask);
        if (!refusal.isEmpty()) {
            QApplication::beep();
            setNotice(refusal);
            return;
        }
    }
    m_keyCode = *code;
    m_modifiers = mask;
    setRecording(false);
    emit committed(m_keyCode, m_modifiers);
}

void HotKeyRecorder::focusOutEvent(QFocusEvent* event) {
    setRecording(false);
    QPushButton::focusOutEvent(event);
}

void HotKeyRecorder::changeEvent(QEvent* event) {
    if (event->type() == QEvent::ActivationChange && !isActiveWindow()) setRecording(false);
    QPushButton::changeEvent(event);
}

void HotKeyRecorder::hideEvent(QHideEvent* event) {
    setRecording(false);
    QPushButton::hideEvent(event);
}
