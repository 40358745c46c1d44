#!/usr/bin/env bash
# The one list of Debian packages Quillet needs to build, run and test.
# Installs whatever is missing; does nothing when all are present.
set -euo pipefail

packages=(
  # build
  cmake ninja-build g++ pkg-config
  # libraries
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev libqt6svg6 libgl-dev
  libssl-dev libsecret-1-dev libx11-dev libxtst-dev libxcb1-dev libzxing-dev
  # windows that never take the keyboard on KDE Plasma's Wayland desktop: its shell
  # protocol on the surfaces Qt's platform interface (a private Qt header) hands out
  plasma-wayland-protocols qt6-base-private-dev
  # owner authentication for the app lock
  libpam0g-dev
  # event sounds through the desktop's sound theme (ALSA: to quiet its messages)
  libcanberra-dev libasound2-dev
  # tests and benchmarks
  libbenchmark-dev oathtool python3 dbus gnome-keyring
  python3-cryptography
  # oracles of the credential provider: IDNA and Punycode, CBOR, WebAuthn
  idn2 python3-cbor2 python3-fido2
  # the QR benchmark's reference reader
  zbar-tools
  # draws the sample QR codes (tests/data/make_samples.py)
  qrencode
  # the install test checks the desktop entry
  desktop-file-utils
  # desktop tests: an X server, a tray, key presses, the clipboard, screenshots
  xvfb xauth trayer xdotool xclip imagemagick x11-utils
  # terminals that take an auto-pasted code as typed keys (they read Control+V as
  # a control character, not a paste; rxvt-unicode also reads held Control+Shift
  # as its code entry), and the keyboard layouts switched under them
  xterm rxvt-unicode x11-xkb-utils
  # the codes action's tests call it on the session bus as a script would (gdbus)
  libglib2.0-bin
  # desktop tests read the windows as a screen reader does, under a window manager
  at-spi2-core python3-pyatspi openbox
  # the lock's tests: a PAM stack without touching /etc, logind and the screen saver
  # mocked on private buses
  libpam-wrapper python3-dbusmock
  # the tray's test plays a status-notifier watcher and host on a private bus
  python3-dbus python3-gi
  # Wayland desktop tests (tests/with-kwin.sh): a headless KWin with XWayland, the
  # desktop portals with their KDE backend (its Screenshot portal loads Plasma's
  # QML dialogs even when it shows none), Qt's Wayland platform for Qt 6 and 5, a
  # tray watcher and KDE's global shortcuts; the fake-input protocol and
  # wayland-scanner for the tests' key-press client
  kwin-wayland xwayland xdg-desktop-portal xdg-desktop-portal-kde qt6-wayland qtwayland5
  kded5 libkf5globalaccel-bin plasma-workspace qml-module-org-kde-kirigami2
  libwayland-dev libwayland-bin plasma-wayland-protocols
  # reads the Wayland clipboard as another client does (data control)
  wl-clipboard
  # a wlroots desktop for tests (tests/with-sway.sh): headless sway, where the
  # portal above names GlobalShortcuts but KDE's backend cannot serve them
  sway
  # fuzzing: clang and its libFuzzer and sanitizer runtimes
  clang libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing missing packages: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
