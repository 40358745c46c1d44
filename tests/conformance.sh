#!/bin/sh
# Runs a test program's checks of the real exports of other applications (the
# test functions named on the command line: those called "conformance", as
# tests/CMakeLists.txt runs it) with the folder that holds them, or,
# where that folder is not there, reports the test skipped and why: those
# files are not part of the project, whose own samples are in tests/data.
#   conformance.sh <folder> <test program> <test function>...
folder=$1
shift
if [ ! -d "$folder" ]; then
  echo "SKIPPED: no $folder beside the project. The real exports of other" \
    "applications are an extra check beside the samples in tests/data, run" \
    "where ../shared/conformance is there (as in CI)."
  exit 77
fi
QUILLET_CONFORMANCE_DIR=$folder exec "$@"
