# Sourced by the tests that run inside tests/with-kwin.sh (bash): on top of
# tests/support/desktop.sh (a work folder, the processes started, stopped by
# id at exit, last first, wait_for with generous bounds for a loaded machine,
# the accessibility bus and its driver), text windows whose output is read
# line by line and KWin's scripting to give a window the keyboard.
# Expects a function `fail MESSAGE` from the test.
# shellcheck source=tests/support/desktop.sh
source "$(dirname "${BASH_SOURCE[0]}")/../../../../support/desktop.sh"

# start_text_window TITLE PLATFORM: TEXT_WINDOW (set by the test) as a
# Wayland (wayland) or XWayland (xcb) client; its output in $work/TITLE.out.
start_text_window() {
  QT_QPA_PLATFORM=$2 "$text_window" "$1" >"$work/$1.out" 2>"$work/$1.err" &
  pids+=($!)
}

# said TITLE LINE: the window's last line of each kind is LINE ("active",
# "inactive") or its text is LINE ("text: …"; "text: " before any typing).
said() {
  local last
  case $2 in
    text:*)
      last=$(grep '^text: ' "$work/$1.out" | tail -n1)
      last=${last:-text: }
      ;;
    *) last=$(grep -E '^(active|inactive)$' "$work/$1.out" | tail -n1) ;;
  esac
  [[ $last == "$2" ]]
}

# kwin_script CODE: runs CODE in KWin's JavaScript engine (KWin 5.27 puts a
# loaded script at /ID).
kwin_script() {
  local file name id
  name="quillet-test-$RANDOM"
  file="$work/$name.js"
  printf '%s\n' "$1" >"$file"
  id=$(dbus-send --session --print-reply=literal --dest=org.kde.KWin /Scripting \
    org.kde.kwin.Scripting.loadScript string:"$file" string:"$name" | awk '{print $2}')
  [[ $id =~ ^[0-9]+$ ]] || return 1
  dbus-send --session --print-reply=literal --dest=org.kde.KWin "/$id" \
    org.kde.kwin.Script.run >/dev/null || return 1
  dbus-send --session --print-reply=literal --dest=org.kde.KWin /Scripting \
    org.kde.kwin.Scripting.unloadScript string:"$name" >/dev/null
}

# kwin_activate TITLE: gives the keyboard to the window titled TITLE, as a
# click on it would.
kwin_activate() {
  kwin_script "for (const w of workspace.clientList()) { if (w.caption === \"$1\") workspace.activeClient = w; }"
}

# kwin_place TITLE X Y: moves the window titled TITLE to X,Y and keeps it
# above the others (Wayland clients cannot place their own windows).
kwin_place() {
  kwin_script "for (const w of workspace.clientList()) { if (w.caption === \"$1\") {
    const g = w.frameGeometry; w.frameGeometry = {x: $2, y: $3, width: g.width, height: g.height};
    w.keepAbove = true; } }"
}

# kwin_window_states TITLE: for each window titled TITLE (KWin adds " <2>"
# and so on to a title that another window has), "own" when KWin manages it
# as a top-level window of its own, "transient" when it keeps it with another
# window (of the same program); nothing when there is none. KWin writes a
# script's print() into its log, where the answer is read.
kwin_window_states() {
  local mark="quillet-window-$RANDOM$RANDOM" line=""
  kwin_script "let states = [];
    for (const w of workspace.clientList()) {
      if (w.caption === \"$1\" || w.caption.startsWith(\"$1 <\")) states.push(w.transient ? 'transient' : 'own'); }
    print('$mark:' + states.join(' '));" || return 1
  # Read again until KWin wrote it (a caller that polls asks anew after).
  logged() { line=$(grep -a "$mark:" "$QUILLET_KWIN_ROOT/kwin.log" | tail -n1) && [ -n "$line" ]; }
  wait_for 5 logged || return 1
  echo "${line##*"$mark:"}"
}
