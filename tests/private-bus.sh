# Sourced by the test wrappers. start_private_bus TYPE SOCKET starts a D-Bus
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
