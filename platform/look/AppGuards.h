#pragma once

// Guards that every window of a program gets, installed once at its start
// (after the QApplication is made, before its first window), so that a
// window or control added later has them too:
//
// - The mouse wheel scrolls the page it is over. A combo box, spin box or
//   slider (date and time edits included; scroll bars excepted) changes with
//   the wheel only while it has the keyboard focus, which a click or Tab
//   gives it and the wheel never does; otherwise the wheel goes on to what
//   holds it, and a scroll area scrolls.
//
// - No window is deleted while a modal dialog of its own runs: a dialog's
//   exec(), or one that Qt runs inside its dialogs (a file dialog's "File
//   not found." box), would return into a dialog deleted under it. The
//   window's deferred deletion (deleteLater(), Qt::WA_DeleteOnClose) first
//   closes those dialogs, innermost first, and waits until their event
//   loops have returned. A deletion with `delete` is not seen: windows are
//   closed, and so deleted later, everywhere in the program.
//
// - Every window fits its screen's available area (ScreenFit).
namespace AppGuards {

void install();

} // namespace AppGuards
