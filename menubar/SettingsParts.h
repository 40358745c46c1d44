#pragma once

#include <QString>

class QCheckBox;
class QFrame;
class QLabel;
class QWidget;

// The settings window's recurring building blocks, so that every section looks alike:
// a bold heading, a grey caption that wraps, a switch, a divider between
// sections.
namespace SettingsParts {

QLabel* heading(const QString& text);
// Caption-sized secondary text, wrapping over as many lines as it needs.
QLabel* caption(const QString& text);
QCheckBox* toggle(const QString& text);
// A horizontal line with 4 points of space above and below.
QWidget* divider();

} // namespace SettingsParts
