# Sourced by the test wrappers.

# wait_until TENTHS COMMAND...: true as soon as COMMAND succeeds, tried every
# 0.1 s up to TENTHS times; false after. COMMAND's output is dropped.
wait_until() {
  local tenths=$1 i
  shift
  for ((i = 0; i < tenths; i++)); do
    if "$@" >/dev/null 2>&1; then
      return 0
    fi
    sleep 0.1
  done
  return 1
}

# The desktop sessions' helpers (with-kwin.sh, with-sway.sh).
# bus_call ARGS...: dbus-send on the session bus, its reply printed literally.
bus_call() {
  dbus-send --session --print-reply=literal --reply-timeout=5000 "$@" 2>/dev/null
}

# stop_bus_services: stops every other process on the session bus, by the
# id the bus knows it by (the services it activated, among them).
stop_bus_services() {
  local names name pid
  names=$(bus_call --dest=org.freedesktop.DBus / org.freedesktop.DBus.ListNames | tr -s ' ' '\n' |
    grep '^:' || true)
  for name in $names; do
    pid=$(bus_call --dest=org.freedesktop.DBus / org.freedesktop.DBus.GetConnectionUnixProcessID \
      string:"$name" | awk '{print $2}')
    if [[ $pid =~ ^[0-9]+$ && $pid != "$$" ]]; then kill "$pid" 2>/dev/null || true; fi
  done
}

# process_ended PID: the process is gone, or ended and not yet reaped.
process_ended() { [[ ! -e /proc/$1 || $(awk '{print $3}' "/proc/$1/stat" 2>/dev/null) == Z ]]; }

# start_private_bus TYPE SOCKET starts a D-Bus
# daemon of TYPE (session or system) listening on the Unix socket SOCKET, with
# its configuration in SOCKET.conf and its messages in SOCKET.log, and sets
# private_bus_pid. The bus has no service directories, so nothing is ever
# activated on it (no gcr-prompter, no second keyring daemon), and every
# client may talk to and own any name.
start_private_bus() {
  local type=$1 socket=$2
  cat >"$socket.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>$type</type>
  <listen>unix:path=$socket</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
CONF
  dbus-daemon --config-file="$socket.conf" --nofork --nopidfile --nosyslog 2>"$socket.log" &
  private_bus_pid=$!
}

# start_session_keyring LOG starts gnome-keyring's Secret Service on the
# current session bus, its messages in LOG, and sets session_keyring_pid once
# it answers with an unlocked default collection; exits the script otherwise.
# --unlock reads the login password from stdin; with no login keyring yet it
# creates one with that password, unlocked, and makes it the default
# collection, so storing items never needs a prompt.
start_session_keyring() {
  local log=$1 default_collection locked
  keyring_call() {
    dbus-send --session --print-reply=literal --reply-timeout=2000 "$@" 2>/dev/null
  }
  secrets_owned() {
    [[ $(keyring_call --dest=org.freedesktop.DBus / org.freedesktop.DBus.NameHasOwner \
      string:org.freedesktop.secrets) == *true* ]]
  }
  gnome-keyring-daemon --foreground --unlock --components=secrets < <(printf test) >"$log" 2>&1 &
  session_keyring_pid=$!
  if ! wait_until 300 secrets_owned; then
    echo "private session: gnome-keyring-daemon did not come up (see below)" >&2
    cat "$log" >&2
    exit 1
  fi
  # The backend relies on a default collection. gnome-keyring can only create
  # one through a password prompt, which is impossible here, so a missing or
  # locked one is a broken environment rather than something to paper over.
  # The one --unlock creates may come a moment after the name (later on a
  # loaded machine): looked for again for 30 s.
  default_found() {
    default_collection=$(keyring_call --dest=org.freedesktop.secrets /org/freedesktop/secrets \
      org.freedesktop.Secret.Service.ReadAlias string:default || true)
    [[ $default_collection == */collection/* ]]
  }
  if ! wait_until 300 default_found; then
    echo "private session: gnome-keyring has no default collection ($default_collection)" >&2
    cat "$log" >&2
    exit 1
  fi
  locked=$(keyring_call --dest=org.freedesktop.secrets "${default_collection// /}" \
    org.freedesktop.DBus.Properties.Get string:org.freedesktop.Secret.Collection string:Locked)
  if [[ $locked != *false* ]]; then
    echo "private session: the default collection is locked" >&2
    exit 1
  fi
}
