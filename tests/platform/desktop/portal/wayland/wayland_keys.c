/* Presses keys as if on a keyboard attached to KWin, through KWin's
 * org_kde_kwin_fake_input protocol (allowed for any client when KWin runs
 * with KWIN_WAYLAND_NO_PERMISSION_CHECKS=1). KWin itself receives the
 * presses, so its global shortcuts fire and the window that has the
 * keyboard gets the rest, Wayland and XWayland windows alike.
 *
 * Usage: wayland_keys STEP...
 *   ctrl+alt+k    a combination: modifiers (ctrl, alt, shift, super) held
 *                 while the last key is pressed and released
 *   Return, a, 7  one key (names as in the table below)
 *   hold:MS:ctrl+alt+k
 *                 a combination as a person presses it: the modifiers go down
 *                 one after another, the last key is held MS milliseconds,
 *                 let go, and the modifiers are let go a moment after it
 *   hold-mods:MS:ctrl+alt+k
 *                 the same, the modifiers let go before the last key
 *   type:TEXT     each character of TEXT (lower-case letters, digits, space)
 *   click:X,Y     the pointer to X,Y on the screen, then a left click
 * Each step is finished in KWin before the next one is sent. Exits 2 when
 * the compositor offers no fake input with keyboard keys, 1 on bad steps. */
#include "fake-input-client-protocol.h"

#include <linux/input-event-codes.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <time.h>
#include <wayland-client.h>

struct key_name {
    const char* name;
    unsigned code;
};

static const struct key_name keys[] = {
    {"a", KEY_A}, {"b", KEY_B}, {"c", KEY_C}, {"d", KEY_D}, {"e", KEY_E}, {"f", KEY_F},
    {"g", KEY_G}, {"h", KEY_H}, {"i", KEY_I}, {"j", KEY_J}, {"k", KEY_K}, {"l", KEY_L},
    {"m", KEY_M}, {"n", KEY_N}, {"o", KEY_O}, {"p", KEY_P}, {"q", KEY_Q}, {"r", KEY_R},
    {"s", KEY_S}, {"t", KEY_T}, {"u", KEY_U}, {"v", KEY_V}, {"w", KEY_W}, {"x", KEY_X},
    {"y", KEY_Y}, {"z", KEY_Z}, {"0", KEY_0}, {"1", KEY_1}, {"2", KEY_2}, {"3", KEY_3},
    {"4", KEY_4}, {"5", KEY_5}, {"6", KEY_6}, {"7", KEY_7}, {"8", KEY_8}, {"9", KEY_9},
    {" ", KEY_SPACE}, {"space", KEY_SPACE}, {"Return", KEY_ENTER}, {"Escape", KEY_ESC},
    {"Tab", KEY_TAB}, {"BackSpace", KEY_BACKSPACE}, {"Up", KEY_UP}, {"Down", KEY_DOWN},
    {"Left", KEY_LEFT}, {"Right", KEY_RIGHT}, {"comma", KEY_COMMA}, {"period", KEY_DOT},
    {"ctrl", KEY_LEFTCTRL}, {"alt", KEY_LEFTALT}, {"shift", KEY_LEFTSHIFT},
    {"super", KEY_LEFTMETA},
};

static struct org_kde_kwin_fake_input* fake_input;

static void on_global(void* data, struct wl_registry* registry, uint32_t name,
                      const char* interface, uint32_t version) {
    (void)data;
    if (strcmp(interface, org_kde_kwin_fake_input_interface.name) == 0 &&
        version >= ORG_KDE_KWIN_FAKE_INPUT_KEYBOARD_KEY_SINCE_VERSION)
        fake_input = wl_registry_bind(registry, name, &org_kde_kwin_fake_input_interface,
                                      ORG_KDE_KWIN_FAKE_INPUT_KEYBOARD_KEY_SINCE_VERSION);
}

static void on_global_remove(void* data, struct wl_registry* registry, uint32_t name) {
    (void)data;
    (void)registry;
    (void)name;
}

static const struct wl_registry_listener registry_listener = {on_global, on_global_remove};

static int key_code(const char* name, size_t length, unsigned* code) {
    for (size_t i = 0; i < sizeof keys / sizeof keys[0]; ++i) {
        if (strlen(keys[i].name) == length && strncasecmp(keys[i].name, name, length) == 0 &&
            (length > 1 || strncmp(keys[i].name, name, 1) == 0)) {
            *code = keys[i].code;
            return 1;
        }
    }
    return 0;
}

static void key(unsigned code, int pressed) {
    org_kde_kwin_fake_input_keyboard_key(
        fake_input, code,
        pressed ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
}

static struct wl_display* display;

/* Waits until KWin has handled every request so far, then MS milliseconds. */
static int settle(long ms) {
    if (wl_display_roundtrip(display) < 0) {
        fprintf(stderr, "wayland_keys: the compositor closed the connection\n");
        return 0;
    }
    nanosleep(&(struct timespec){ms / 1000, (ms % 1000) * 1000 * 1000}, NULL);
    return 1;
}

/* A combination: every part but the last is held, the last tapped; with
 * `hold_ms` >= 0, at a person's pace (see the usage above), the modifiers
 * let go first with `modifiers_first`. */
static int press_combination(const char* step, long hold_ms, int modifiers_first) {
    unsigned held[8];
    size_t count = 0;
    const char* part = step;
    for (;;) {
        const char* plus = strchr(part, '+');
        /* "+" alone or at the end is not a separator. */
        size_t length = plus && plus != part ? (size_t)(plus - part) : strlen(part);
        unsigned code;
        if (count == sizeof held / sizeof held[0] || !key_code(part, length, &code)) {
            fprintf(stderr, "wayland_keys: unknown key in '%s'\n", step);
            return 0;
        }
        held[count++] = code;
        if (part[length] == '\0')
            break;
        part += length + 1;
    }
    if (hold_ms < 0) {
        for (size_t i = 0; i < count; ++i)
            key(held[i], 1);
        for (size_t i = count; i-- > 0;)
            key(held[i], 0);
        return 1;
    }
    for (size_t i = 0; i < count; ++i) {
        key(held[i], 1);
        if (!settle(i + 1 < count ? 40 : hold_ms))
            return 0;
    }
    if (!modifiers_first) {
        key(held[count - 1], 0);
        if (!settle(80))
            return 0;
    }
    for (size_t i = count - 1; i-- > 0;) {
        key(held[i], 0);
        if (!settle(20))
            return 0;
    }
    if (modifiers_first) {
        if (!settle(60))
            return 0;
        key(held[count - 1], 0);
    }
    return 1;
}

static int type_text(const char* text) {
    for (const char* c = text; *c; ++c) {
        unsigned code;
        if (!key_code(c, 1, &code)) {
            fprintf(stderr, "wayland_keys: cannot type '%c'\n", *c);
            return 0;
        }
        key(code, 1);
        key(code, 0);
    }
    return 1;
}

static int click(const char* where) {
    double x, y;
    if (sscanf(where, "%lf,%lf", &x, &y) != 2) {
        fprintf(stderr, "wayland_keys: click needs X,Y, not '%s'\n", where);
        return 0;
    }
    org_kde_kwin_fake_input_pointer_motion_absolute(fake_input, wl_fixed_from_double(x),
                                                    wl_fixed_from_double(y));
    org_kde_kwin_fake_input_button(fake_input, BTN_LEFT, WL_POINTER_BUTTON_STATE_PRESSED);
    org_kde_kwin_fake_input_button(fake_input, BTN_LEFT, WL_POINTER_BUTTON_STATE_RELEASED);
    return 1;
}

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: %s STEP...\n", argv[0]);
        return 1;
    }
    display = wl_display_connect(NULL);
    if (!display) {
        fprintf(stderr, "wayland_keys: no Wayland display\n");
        return 2;
    }
    struct wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registry_listener, NULL);
    wl_display_roundtrip(display);
    if (!fake_input) {
        fprintf(stderr, "wayland_keys: the compositor offers no fake input with keyboard keys\n");
        wl_display_disconnect(display);
        return 2;
    }
    org_kde_kwin_fake_input_authenticate(fake_input, "Quillet tests", "press keys in a test");
    int ok = 1;
    for (int i = 1; ok && i < argc; ++i) {
        if (strncmp(argv[i], "type:", 5) == 0)
            ok = type_text(argv[i] + 5);
        else if (strncmp(argv[i], "click:", 6) == 0)
            ok = click(argv[i] + 6);
        else if (strncmp(argv[i], "hold:", 5) == 0 || strncmp(argv[i], "hold-mods:", 10) == 0) {
            const int modifiers_first = argv[i][4] == '-';
            const char* hold = strchr(argv[i], ':') + 1;
            char* rest;
            const long ms = strtol(hold, &rest, 10);
            if (rest == hold || *rest != ':' || ms < 0 || ms > 5000) {
                fprintf(stderr, "wayland_keys: hold needs MS:KEYS, not '%s'\n", hold);
                ok = 0;
            } else
                ok = press_combination(rest + 1, ms, modifiers_first);
        } else
            ok = press_combination(argv[i], -1, 0);
        /* Every request of this step handled by KWin before the next; a
         * short pause between steps, as between a person's presses, so that
         * a program reacting to one (a shortcut opening a window) does not
         * see the next one merged into it. */
        if (wl_display_roundtrip(display) < 0) {
            fprintf(stderr, "wayland_keys: the compositor closed the connection\n");
            ok = 0;
        }
        nanosleep(&(struct timespec){0, 30 * 1000 * 1000}, NULL);
    }
    org_kde_kwin_fake_input_destroy(fake_input);
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    return ok ? 0 : 1;
}
