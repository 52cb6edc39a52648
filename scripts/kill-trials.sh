#!/usr/bin/env bash
# Kills tarnwick-policy and tarnwick-reg with SIGKILL at random moments while they change a demo
# machine (add-user, remove-user, set, and an import touching HKEY_LOCAL_MACHINE and HKEY_USERS),
# then checks, after the next run has taken the machine's lock: every account has its profile
# entry and user.dat or neither exists, every import is whole or absent, no temporary file or
# unfinished record is left, and every registry file reads cleanly with cregexport.
#
# Usage: scripts/kill-trials.sh [KILLS [BUILD_DIR]]   (default 1000 kills, build-test)
# Trials go on until KILLS commands were killed while running (some finish first).
# Exit status 0 when every check held; the figures go to standard output.
set -euo pipefail
kills=${1:-1000}
build=${2:-build-test}
policy=$build/tools/tarnwick-policy/tarnwick-policy
reg=$build/tools/tarnwick-reg/tarnwick-reg
for tool in "$policy" "$reg"; do
  [[ -x $tool ]] || { echo "kill-trials: $tool is not built" >&2; exit 2; }
done
command -v cregexport >/dev/null || { echo "kill-trials: cregexport is missing" >&2; exit 2; }

# shellcheck source=scripts/kill-trial-lib.sh
source "$(dirname "$0")/kill-trial-lib.sh"
work=$(work_folder tarnwick-kills)
trap 'rm -rf "$work"' EXIT
machine=$work/machine
windows=$machine/c/WINDOWS
"$policy" --machine "$machine" users >/dev/null 2>&1

# Each command of a trial, by number: 0 add-user, 1 remove-user, 2 set, 3 import.
run_command() {
  case $1 in
    0) exec "$policy" --machine "$machine" add-user "$2" ;;
    1) exec "$policy" --machine "$machine" remove-user "$2" ;;
    2) exec "$policy" --machine "$machine" set "$2" NoRun "$3" ;;
    3) exec "$reg" --machine "$machine" import "$work/import.reg" ;;
  esac
}

write_import() {
  printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Trial]\r\n"Gen"=dword:%08x\r\n\r\n' "$1" \
    >"$work/import.reg"
  printf '[HKEY_USERS\\.DEFAULT\\Trial]\r\n"Gen"=dword:%08x\r\n\r\n' "$1" >>"$work/import.reg"
}

# The checks after a trial; the users run first takes the lock, which completes an unfinished
# change and removes leftovers.
check() {
  local users
  if ! users=$("$policy" --machine "$machine" users 2>"$work/err"); then
    fail "users failed: $(cat "$work/err")"
    return
  fi
  mapfile -t accounts < <(printf '%s\n' "$users" | sed '/^$/d')
  local leftovers
  leftovers=$(find "$machine" -name '.*.tmp-*' -o -name 'tarnwick.commit' | head -3)
  [[ -z $leftovers ]] || fail "left behind: $leftovers"
  if ! "$reg" --machine "$machine" export | tr -d '\r' >"$work/all.reg"; then
    fail "export failed"
    return
  fi
  local entries
  entries=$(grep -i '^\[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\ProfileList\\[^\\]*\]$' \
    "$work/all.reg" | sed 's/.*\\//; s/\]$//' | tr 'A-Z' 'a-z' | sort || true)
  local listed
  listed=$(printf '%s\n' "${accounts[@]}" | sed '/^$/d' | tr 'A-Z' 'a-z' | sort)
  [[ $entries == "$listed" ]] || fail "accounts [$listed] but profile entries [$entries]"
  local name
  for name in "${accounts[@]}"; do
    [[ -f $windows/Profiles/$name/user.dat ]] || fail "$name has no user.dat"
  done
  local system user
  system=$(awk '/^\[/{k=$0} k=="[HKEY_LOCAL_MACHINE\\Trial]" && /^"Gen"/' "$work/all.reg")
  user=$(awk '/^\[/{k=tolower($0)} k=="[hkey_users\\.default\\trial]" && /^"Gen"/' "$work/all.reg")
  [[ $system == "$user" ]] || fail "import half applied: HKLM $system, HKU $user"
  local file
  for file in "$windows/SYSTEM.DAT" "$windows/USER.DAT" "$windows/Tarnex.pol" \
    ${target:+"$windows/Profiles/$target/user.dat"}; do
    [[ -e $file ]] || continue
    if ! cregexport "$file" >/dev/null 2>"$work/err" || [[ -s $work/err ]]; then
      fail "$file does not read cleanly: $(head -c 300 "$work/err")"
    fi
  done
}

# How long each command takes (the longest of three runs). The files are written at its end, so
# most kills land in its second half; the span shrinks when a command finished before its kill
# and grows when the kill landed, so that about two in three land.
declare -a span_ms=(0 0 0 0)
for _ in 1 2 3; do
  for command in 0 1 2 3; do
    write_import 0
    start=$(now_ms)
    case $command in
      0) run_command 0 calib >/dev/null 2>&1 & ;;
      1) run_command 1 calib >/dev/null 2>&1 & ;;
      2) run_command 2 calib 1 >/dev/null 2>&1 & ;;
      3) run_command 3 >/dev/null 2>&1 & ;;
    esac
    wait $! || true
    took=$(($(now_ms) - start))
    ((took > span_ms[command])) && span_ms[command]=$took
  done
done
"$policy" --machine "$machine" add-user ann >/dev/null 2>&1

declare -A killed finished
accounts=(ann)
landed=0
for ((trial = 1; landed < kills; trial++)); do
  command=$((trial % 4))
  target=
  arg=
  if ((command == 1 || command == 2)) && ((${#accounts[@]} > 0)); then
    target=${accounts[RANDOM % ${#accounts[@]}]}
    arg=$((RANDOM % 2))
  elif ((command != 3)); then
    command=0
  fi
  ((command == 0)) && target=u$trial
  ((command == 3)) && write_import "$trial"
  what=$(printf '%s' "add-user remove-user set import" | cut -d' ' -f$((command + 1)))
  span=${span_ms[command]}
  if ((RANDOM % 4 == 0)); then
    delay=$((RANDOM % (span + 1)))
  else
    delay=$((span / 2 + RANDOM % (span / 2 + 1)))
  fi
  kill_one "$delay" "$command" "$target" "$arg"
  check
done

for what in add-user remove-user set import; do
  echo "$what: ${killed[$what]:-0} killed while running, ${finished[$what]:-0} finished first"
done
echo "trials: $((trial - 1)), killed while running: $landed, failed checks: $failures"
((failures == 0))
