#!/usr/bin/python3
"""The codes action of the running program under a flood of calls, on the
Secret Service backend (a private gnome-keyring).

Rounds of calls from many connections at once: the calls beyond the few in
flight are answered busy at once, a real call made meanwhile is answered (how
soon is printed), and the program's memory after the rounds is within 10 % of
what it was after the first. A caller that leaves the bus before its call is read gets
nothing copied: the clipboard keeps what it held.

Run inside tests/with-session.sh and tests/with-xvfb.sh.
Usage: codes_flood.py QUILLET SEED_VAULT
"""
import os
import subprocess
import sys
import tempfile
import time

import dbus
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

NAME = "com.tarnwick.Quillet"
PATH = "/Quillet"
CODES = "com.tarnwick.Quillet.Codes"
BUSY = "com.tarnwick.Quillet.Error.Busy"
CONNECTIONS = 50
CALLS_PER_CONNECTION = 30  # 1,500 calls at once a round, most answered busy
PACED_CALLERS = 4
PACED_CALLS = 100  # and 400 calls a round that are all read
ROUNDS = 3

quillet, seed = sys.argv[1:3]
work = tempfile.mkdtemp()
DBusGMainLoop(set_as_default=True)
address = os.environ["DBUS_SESSION_BUS_ADDRESS"]
program = None


def fail(message):
    print(f"codes flood test: {message}", file=sys.stderr)
    log = os.path.join(work, "quillet.log")
    if os.path.exists(log):
        with open(log) as lines:
            sys.stderr.write("".join("quillet: " + line for line in lines))
    if program and program.poll() is None:
        program.kill()
    sys.exit(1)


def rss_kib(pid):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    fail("no VmRSS")


def connection():
    return dbus.bus.BusConnection(address)


def codes(bus):
    return dbus.Interface(bus.get_object(NAME, PATH, introspect=False), CODES)


def wait_until(condition, seconds):
    loop_context = GLib.MainContext.default()
    deadline = time.monotonic() + seconds
    while not condition() and time.monotonic() < deadline:
        loop_context.iteration(False)
        time.sleep(0.001)
    return condition()


def clipboard():
    return subprocess.run(["xclip", "-o", "-selection", "clipboard"], capture_output=True,
                          timeout=10).stdout.decode()


def set_clipboard(text):
    subprocess.run(["xclip", "-i", "-selection", "clipboard"], input=text.encode(),
                   timeout=10, start_new_session=True)


if subprocess.run([seed, "20"], stdout=subprocess.DEVNULL).returncode != 0:
    fail("could not seed the vault")
with open(os.path.join(work, "quillet.log"), "w") as log:
    program = subprocess.Popen([quillet], stdout=log, stderr=subprocess.STDOUT)
main_bus = dbus.SessionBus()
if not wait_until(lambda: main_bus.name_has_owner(NAME), 30):
    fail("the program did not take its name on the bus")
action = codes(main_bus)
accounts = action.Suggested(timeout=30)
if len(accounts) != 20:
    fail(f"expected 20 accounts, got {len(accounts)}")
first = str(accounts[0][0])
code, dialog = action.GetCode(first, timeout=30)
if not code.isdigit():
    fail(f"no code: {code!r} {dialog!r}")

# A caller that leaves before its call is read: three calls ahead of it keep
# the reader busy meanwhile, then it closes its connection.
set_clipboard("left alone")
if not wait_until(lambda: clipboard() == "left alone", 5):
    fail("the clipboard did not take the test's text")
ahead = []
for _ in range(3):
    action.Suggested(reply_handler=lambda *_: ahead.append(1),
                     error_handler=lambda e: ahead.append(e), timeout=30)
leaving = connection()
message = dbus.lowlevel.MethodCallMessage(NAME, PATH, CODES, "GetCode")
message.append(first, signature="s")
leaving.send_message(message)
leaving.flush()
leaving.close()
if not wait_until(lambda: len(ahead) == 3, 30):
    fail("the calls ahead of the leaving caller were not answered")
action.Suggested(timeout=30)  # read after the leaving caller's call
time.sleep(0.3)
if clipboard() != "left alone":
    fail(f"a call whose caller had left copied its code: {clipboard()!r}")


def flood_round():
    buses = [connection() for _ in range(CONNECTIONS)]
    answers = {"code": 0, "busy": 0, "other": []}

    def on_reply(*_):
        answers["code"] += 1

    def on_error(error):
        if error.get_dbus_name() == BUSY:
            answers["busy"] += 1
        else:
            answers["other"].append(error.get_dbus_name())

    for bus in buses:
        calls = codes(bus)
        for _ in range(CALLS_PER_CONNECTION):
            calls.GetCode(first, reply_handler=on_reply, error_handler=on_error, timeout=60)
    # A real call while the flood is under way: answered.
    real = {}
    started = time.monotonic()
    action.GetCode(first, reply_handler=lambda *r: real.setdefault("answer", r),
                   error_handler=lambda e: real.setdefault("answer", e.get_dbus_name()),
                   timeout=30)
    if not wait_until(lambda: "answer" in real, 30):
        fail("a real call during the flood was not answered")
    waited = time.monotonic() - started
    total = CONNECTIONS * CALLS_PER_CONNECTION
    if not wait_until(lambda: answers["code"] + answers["busy"] + len(answers["other"]) == total,
                      120):
        fail(f"not every flood call was answered: {answers}")
    for bus in buses:
        bus.close()
    if answers["other"]:
        fail(f"unexpected errors: {set(answers['other'])}")
    if answers["busy"] == 0:
        fail("no call of the flood was answered busy")

    # Callers that wait for each answer before the next call: every call is
    # read, which is where memory used to stay behind.
    paced = [connection() for _ in range(PACED_CALLERS)]
    done = {"calls": 0, "errors": []}

    def next_call(calls, left):
        if left == 0:
            return

        def on_answer(*_):
            done["calls"] += 1
            next_call(calls, left - 1)

        def on_paced_error(error):
            done["errors"].append(error.get_dbus_name())
            next_call(calls, left - 1)

        calls.GetCode(first, reply_handler=on_answer, error_handler=on_paced_error, timeout=60)

    for bus in paced:
        next_call(codes(bus), PACED_CALLS)
    if not wait_until(lambda: done["calls"] + len(done["errors"]) == PACED_CALLERS * PACED_CALLS,
                      120):
        fail(f"the paced calls were not all answered: {done['calls']}")
    for bus in paced:
        bus.close()
    if done["errors"]:
        fail(f"paced calls failed: {set(done['errors'])}")
    answers["code"] += done["calls"]
    return waited, answers, real["answer"]


before = None
for round_number in range(1, ROUNDS + 1):
    waited, answers, real = flood_round()
    # A real call once the flood is over gets its code.
    code, _ = action.GetCode(first, timeout=30)
    if not code.isdigit():
        fail(f"no code after round {round_number}: {code!r}")
    time.sleep(0.5)
    rss = rss_kib(program.pid)
    print(f"round {round_number}: real call answered in {waited * 1000:.0f} ms ({real!r}); "
          f"{answers['code']} codes, {answers['busy']} busy; RSS {rss} KiB", flush=True)
    if before is None:
        before = rss
# AddressSanitizer holds freed memory back in its quarantine: memory says
# nothing there, and the plain build checks it.
if "ASAN_OPTIONS" in os.environ:
    print("memory not compared under AddressSanitizer", flush=True)
elif rss > before * 1.10:
    fail(f"memory grew from {before} KiB to {rss} KiB over the rounds")
if program.poll() is not None:
    fail("the program ended")
program.terminate()
program.wait(30)
print("codes flood test: passed")
