#!/usr/bin/env bash
# Runs a command with PAM wrapped by cwrap's pam_wrapper, so that the program
# authenticates against test stacks in a fresh temporary folder and never
# against /etc/pam.d. The stacks:
#   quillet-test  pam_matrix: the current user with the password "correct horse"
#   broken        a module that does not exist (authentication fails)
#   other         like quillet-test, only with --with-other (the fallback stack)
# QUILLET_PAM_SERVICE names quillet-test; tests change it to reach the others.
# Usage: with-pam.sh [--with-other] COMMAND [ARGS...]
set -euo pipefail

with_other=0
if [[ ${1:-} == --with-other ]]; then
  with_other=1
  shift
fi
if [[ $# -eq 0 ]]; then
  echo "usage: $0 [--with-other] command [args...]" >&2
  exit 2
fi

library=$(pkg-config --libs pam_wrapper | xargs)
modules=$(pkg-config --variable=modules pam_wrapper)
if [[ ! -f $library || ! -f $modules/pam_matrix.so ]]; then
  echo "with-pam: libpam-wrapper is not installed" >&2
  exit 1
fi

root=$(mktemp -d "${TMPDIR:-/tmp}/quillet-pam.XXXXXX")
trap 'rm -rf "$root"' EXIT
mkdir "$root/services"
# pam_matrix allows each user one service: one password file per stack.
matrix() {
  printf '%s:correct horse:%s\n' "$(id -un)" "$1" >"$root/passdb-$1"
  echo "auth required $modules/pam_matrix.so passdb=$root/passdb-$1" >"$root/services/$1"
}
matrix quillet-test
echo "auth required $root/no-such-module.so" >"$root/services/broken"
if [[ $with_other -eq 1 ]]; then matrix other; fi

export PAM_WRAPPER=1
export PAM_WRAPPER_SERVICE_DIR="$root/services"
export QUILLET_PAM_SERVICE=quillet-test
export LD_PRELOAD="$library${LD_PRELOAD:+:$LD_PRELOAD}"
# Under the sanitizers: the wrapper is preloaded ahead of their runtime, and
# deep binding would hide the sanitizers' interceptors from the modules.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0"
export PAM_WRAPPER_DISABLE_DEEPBIND=1
# Debian's pam_wrapper 1.1.4 reads the variable under uid_wrapper's name.
export UID_WRAPPER_DISABLE_DEEPBIND=1
status=0
"$@" || status=$?
# A program ended by a signal it does not report (SIGPIPE) says nothing itself.
((status == 0)) || echo "with-pam: $(basename "$1") ended with status $status" >&2
exit "$status"
