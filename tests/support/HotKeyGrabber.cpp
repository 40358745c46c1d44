// Another X client competing for a key combination, so that a test can see
// grabs from both sides. Grabs Control+Alt+<key> (the key named by its X
// keysym, e.g. "k"; with "numlock" also Num Lock held; with "bare" the key
// alone, without modifiers) on the root window,
// prints "ready", or "taken" when another client holds it, and keeps the
// grab until its standard input closes.
// With "--group N" it switches the keyboard to its layout group N instead,
// as a desktop's layout switcher does, and leaves.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool refused = false;

int onError(Display*, XErrorEvent* error) {
    refused = refused || error->error_code == BadAccess;
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    Display* display = XOpenDisplay(nullptr);
    if (!display) return 1;
    XSetErrorHandler(onError);
    if (std::strcmp(argv[1], "--group") == 0 && argc > 2) {
        const bool locked = XkbLockGroup(display, XkbUseCoreKbd, unsigned(std::atoi(argv[2])));
        XSync(display, False);
        XCloseDisplay(display);
        return locked ? 0 : 1;
    }
    unsigned int modifiers = ControlMask | Mod1Mask;
    if (argc > 2 && std::strcmp(argv[2], "numlock") == 0) modifiers |= Mod2Mask;
    if (argc > 2 && std::strcmp(argv[2], "bare") == 0) modifiers = 0;
    const KeyCode key = XKeysymToKeycode(display, XStringToKeysym(argv[1]));
    XGrabKey(display, key, modifiers, DefaultRootWindow(display), True, GrabModeAsync,
             GrabModeAsync);
    XSync(display, False);
    std::puts(refused ? "taken" : "ready");
    std::fflush(stdout);
    while (std::getchar() != EOF) {
    }
    XCloseDisplay(display);
    return 0;
}
