#pragma once

#include <QPushButton>

// The button with which the user sets one binding's key combination: it shows
// the combination, listens after a click, and takes the next key pressed with
// at least one modifier. Escape cancels; a key without a modifier beeps and
// keeps listening. A second click or losing the keyboard focus stops it.
//
// While it listens it holds the keyboard and the program's own global hotkeys
// stand aside, so a combination another binding (or another program) holds
// reaches the recorder instead of firing.
class HotKeyRecorder : public QPushButton {
    Q_OBJECT

public:
    explicit HotKeyRecorder(QWidget* parent = nullptr);
    ~HotKeyRecorder() override;

    quint32 keyCode() const { return m_keyCode; }
    quint32 modifiers() const { return m_modifiers; }
    bool isRecording() const { return m_recording; }

    // The binding's current values; not shown while recording (the recording
    // decides what comes next).
    void setCombination(quint32 keyCode, quint32 modifiers);
    void toggleRecord();

signals:
    // Once per recorded combination.
    void committed(quint32 keyCode, quint32 modifiers);
    void recordingChanged(bool recording);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool event(QEvent* event) override;

private:
    void setRecording(bool recording);
    void refreshTitle();

    quint32 m_keyCode = 0;
    quint32 m_modifiers = 0;
    bool m_recording = false;
};
