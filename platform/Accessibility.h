#pragma once

// Whether the program may send synthetic keystrokes. On X11 no user permission
// exists: any client may use the XTEST extension when the server offers it.
namespace Accessibility {

// True when the program runs on X11 and the server offers XTEST.
bool isTrusted();

// The same answer; there is no permission prompt to show on X11.
bool isTrustedWithPrompt();

} // namespace Accessibility
