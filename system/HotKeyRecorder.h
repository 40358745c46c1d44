#pragma once

#include "platform/desktop/GlobalHotKey.h"

#include <QPushButton>
#include <functional>
#include <memory>

// The button with which the user sets one binding's key combination: it shows
// the combination, listens after a click, and takes the next key pressed with
// at least one modifier. Escape cancels; a key without a modifier beeps and
// keeps listening. A second click or losing the keyboard focus stops it.
//
// While it listens it holds the keyboard, and the program's own global
// hotkeys and the desktop's shortcuts stand aside (GlobalHotKey::Suspension),
// so a combination another binding, another program or the desktop holds
// reaches the recorder instead of firing; they come back however the
// listening ends, the recorder's destruction included.
class HotKeyRecorder : public QPushButton {
    Q_OBJECT

public:
    explicit HotKeyRecorder(QWidget* parent = nullptr);
    ~HotKeyRecorder() override;

    quint32 keyCode() const { return m_keyCode; }
    quint32 modifiers() const { return m_modifiers; }
    bool isRecording() const { return m_recording; }
    // The button's size for its longest text, the recording prompt, in its
    // font (large fonts included) and in the language it is shown in.
    QSize promptSize() const;

    // The binding's current values; not shown while recording (the recording
    // decides what comes next).
    void setCombination(quint32 keyCode, quint32 modifiers);
    void toggleRecord();

    // Asked about each combination pressed: a sentence refuses it (the
    // combination is already taken here) and the recorder goes on
    // listening; an empty answer lets it be committed.
    using Check = std::function<QString(quint32 keyCode, quint32 modifiers)>;
    void setCheck(Check check) { m_check = std::move(check); }

    // What the user should know while it listens: why the last combination
    // was refused, or that the desktop keeps some combinations from
    // reaching it. Empty when idle.
    QString notice() const { return m_notice; }

signals:
    // Once per recorded combination.
    void committed(quint32 keyCode, quint32 modifiers);
    void recordingChanged(bool recording);
    void noticeChanged(const QString& notice);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool event(QEvent* event) override;

private:
    void setRecording(bool recording);
    void refreshTitle();
    void setNotice(const QString& notice);
    void showSuspendedKeys();

    quint32 m_keyCode = 0;
    quint32 m_modifiers = 0;
    bool m_recording = false;
    // Present exactly while recording.
    std::unique_ptr<GlobalHotKey::Suspension> m_suspension;
    Check m_check;
    QString m_notice;
};
