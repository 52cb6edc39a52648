# Shared by the kill-trial scripts: a work folder, failure counting, and one trial's kill.
# The sourcing script defines run_command (exec's one command by number) and check, and sets
# trial, what and span_ms before each kill_one.

# tmpfs when there is one: a kill needs no disk, and the flushes cost nothing there.
work_folder() {
  local base=/dev/shm
  [[ -d $base && -w $base ]] || base=${TMPDIR:-/tmp}
  mktemp -d "$base/$1-XXXXXX"
}

failures=0
fail() {
  echo "${fail_prefix:-}trial $trial ($what): $*" >&2
  failures=$((failures + 1))
}

now_ms() { date +%s%3N; }

# kill_one DELAY_MS COMMAND [ARGS...]: runs run_command COMMAND ARGS in the background and kills
# it after DELAY_MS. A kill that landed counts in killed[$what] and landed, and lengthens the
# command's span a little; a command that finished first counts in finished[$what], must have
# succeeded, and shortens it, so that about two in three kills land.
kill_one() {
  local delay=$1 command=$2
  shift
  run_command "$@" >/dev/null 2>&1 &
  local pid=$! span=${span_ms[command]} status=0
  sleep "$((delay / 1000)).$(printf '%03d' $((delay % 1000)))"
  kill -KILL "$pid" 2>/dev/null || true
  { wait "$pid"; } 2>/dev/null || status=$?
  if ((status == 137)); then
    killed[$what]=$((${killed[$what]:-0} + 1))
    landed=$((landed + 1))
    span_ms[command]=$((span * 21 / 20 + 1))
  else
    finished[$what]=$((${finished[$what]:-0} + 1))
    span_ms[command]=$((span * 9 / 10 + 1))
    ((status == 0)) || fail "finished with status $status"
  fi
}
