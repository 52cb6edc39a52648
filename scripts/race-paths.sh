#!/usr/bin/env bash
# Races tarnwick-policy against a link swapped into a profile's path: a background process
# exchanges C:\WINDOWS\Profiles\bob (a real folder) with Profiles\.swap (a link to a folder
# outside the machine) in a loop (renameat2 RENAME_EXCHANGE), while ATTEMPTS runs of
# `add-user bob; remove-user bob` go on. Prints the attempts, the add-users that succeeded and the
# files found outside the machine; exits non-zero when there is any.
# Usage: scripts/race-paths.sh [ATTEMPTS] [TARNWICK_POLICY]   (default 2000, build-test's tool)
set -euo pipefail
cd "$(dirname "$0")/.."
attempts=${1:-2000}
tool=${2:-build-test/tools/tarnwick-policy/tarnwick-policy}
[ -x "$tool" ] || { echo "$tool: not built" >&2; exit 2; }
tool=$(realpath "$tool")

work=$(mktemp -d)
swapper=
cleanup() {
  if [ -n "$swapper" ]; then
    kill "$swapper" 2>/dev/null || true
    wait "$swapper" 2>/dev/null || true
  fi
  cd / && rm -rf "$work"
}
trap cleanup EXIT
machine=$work/machine
outside=$work/outside
mkdir "$outside"
"$tool" --machine "$machine" users >/dev/null 2>&1
profiles=$machine/c/WINDOWS/Profiles
mkdir -p "$profiles/bob"
ln -s "$outside" "$profiles/.swap"
# The shell stays in the real folder whatever its name, to empty it without following the link.
cd "$profiles/bob"

python3 - "$profiles" <<'PY' &
import ctypes, os, sys
libc = ctypes.CDLL(None, use_errno=True)
fd = os.open(sys.argv[1], os.O_RDONLY | os.O_DIRECTORY)
RENAME_EXCHANGE = 2
while True:
    libc.renameat2(fd, b"bob", fd, b".swap", RENAME_EXCHANGE)
PY
swapper=$!

added=0
for ((i = 0; i < attempts; ++i)); do
  rm -f user.dat  # so that every attempt writes one
  if "$tool" --machine "$machine" add-user bob >/dev/null 2>&1; then added=$((added + 1)); fi
  "$tool" --machine "$machine" remove-user bob >/dev/null 2>&1 || true
done
escaped=$(find "$outside" -mindepth 1 | wc -l)
echo "attempts: $attempts, add-user succeeded: $added, files outside the machine: $escaped"
[ "$escaped" -eq 0 ]
