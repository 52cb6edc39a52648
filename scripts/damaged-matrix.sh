#!/usr/bin/env bash
# Runs every command of tarnwick-policy and tarnwick-reg against a demo machine with one registry
# file damaged (SYSTEM.DAT, USER.DAT, Tarnex.pol, a profile's user.dat; a dozen fixed damages and
# a few seeded random ones), each run on a fresh copy. A run passes when it leaves no sanitizer
# report, exits 0 or 1 within 20 s, changes no file when it fails (tarnwick.lock aside), changes
# no file when it only reads, and leaves every registry file it changed readable by cregexport.
#
# Usage: scripts/damaged-matrix.sh [BUILD_DIR]   (default build-test; tools built with sanitizers)
# Prints each failure and "matrix: N passed, M failed"; exit status 0 when none failed.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-test}
policy=$build/tools/tarnwick-policy/tarnwick-policy
reg=$build/tools/tarnwick-reg/tarnwick-reg
for tool in "$policy" "$reg"; do
  [[ -x $tool ]] || { echo "damaged-matrix: $tool is not built" >&2; exit 2; }
done
policy=$(realpath "$policy")
reg=$(realpath "$reg")
command -v cregexport >/dev/null || { echo "damaged-matrix: cregexport is missing" >&2; exit 2; }
export ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

base=/dev/shm
[[ -d $base && -w $base ]] || base=${TMPDIR:-/tmp}
work=$(mktemp -d "$base/tarnwick-matrix-XXXXXX")
trap 'rm -rf "$work"' EXIT
good=$work/good
damaged=$work/damaged
run=$work/run

"$policy" --machine "$good" users >/dev/null 2>&1
for setup in "add-user ann" "add-user bob" "set ann NoRun 1" "allow ann calc.exe" \
  "set bob NoDrives 4" "activation on" "add-group staff" "add-computer KIOSK1"; do
  # shellcheck disable=SC2086 # the words are the command's arguments
  "$policy" --machine "$good" $setup >/dev/null
done
targets=(c/WINDOWS/SYSTEM.DAT c/WINDOWS/USER.DAT c/WINDOWS/Tarnex.pol c/WINDOWS/Profiles/ann/user.dat)
for target in "${targets[@]}"; do
  cregexport "$good/$target" >/dev/null 2>&1 || { echo "damaged-matrix: $target is not clean" >&2; exit 2; }
done

printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Matrix]\r\n"Gen"=dword:00000001\r\n\r\n' \
  >"$work/machine.reg"
printf '[HKEY_USERS\\.DEFAULT\\Matrix]\r\n"Text"="matrix"\r\n\r\n' >>"$work/machine.reg"
printf 'REGEDIT4\r\n\r\n[Matrix]\r\n"Gen"=dword:00000001\r\n"Text"="matrix"\r\n\r\n' \
  >"$work/file.reg"

damages=(truncate-0 truncate-4 truncate-32 truncate-half creg-signature rgkn-signature
  rgdb-size-huge zero-64-middle ff-run-key-table name-length-past-record random-5pct
  append-garbage random-1 random-2 random-3 random-4 random-5 random-6)

# damage FILE KIND: damages FILE in place; random ones take their seed from KIND.
damage() {
  perl -e '
    use strict; use warnings;
    my ($path, $kind) = @ARGV;
    open(my $fh, "<:raw", $path) or die "$path: $!\n";
    my $d = do { local $/; <$fh> };
    close $fh;
    my $n = length $d;
    my $block = $n >= 12 ? unpack("V", substr($d, 8, 4)) : 0;
    my $put = sub {
      my ($at, $bytes) = @_;
      substr($d, $at, length $bytes) = $bytes if $at + length($bytes) <= length $d;
    };
    if ($kind =~ /^truncate-(\d+)$/) { $d = substr($d, 0, $1) }
    elsif ($kind eq "truncate-half") { $d = substr($d, 0, int($n / 2)) }
    elsif ($kind eq "creg-signature") { $put->(0, "XREG") }
    elsif ($kind eq "rgkn-signature") { $put->(0x20, "RGKX") }
    elsif ($kind eq "rgdb-size-huge") { $put->($block + 4, pack("V", 0xFFFFFF00)) }
    elsif ($kind eq "zero-64-middle") { $put->(int($n / 2) - 32, "\0" x 64) }
    elsif ($kind eq "ff-run-key-table") { $put->(0x5C, "\xFF" x 84) }
    elsif ($kind eq "name-length-past-record") {
      my $size = unpack("V", substr($d, $block + 0x20, 4));
      $put->($block + 0x2C, pack("v", $size > 0xFFFF ? 0xFFFF : $size));
    }
    elsif ($kind eq "random-5pct") {
      srand(5);
      substr($d, int(rand($n)), 1) = chr(int(rand(256))) for 1 .. int($n / 20);
    }
    elsif ($kind eq "append-garbage") { srand(7); $d .= join("", map { chr(int(rand(256))) } 1 .. 1000) }
    elsif ($kind =~ /^random-(\d+)$/) {
      # A few dwords of the headers and first entries or records set to telling values, and
      # sometimes a cut at a random length.
      srand($1);
      my @values = (0, 0xFFFFFFFF, 0x7FFFFFFF, 0x80000000, 1, 0x20, 0x1000, int(rand(2**32)));
      for (1 .. 1 + int(rand(4))) {
        my $at = rand() < 0.5 ? int(rand(0xC0)) : $block + int(rand(0x80));
        $put->($at, pack("V", $values[int(rand(@values))]));
      }
      $d = substr($d, 0, int(rand($n))) if rand() < 0.3;
    }
    else { die "unknown damage $kind\n" }
    open($fh, ">:raw", $path) or die "$path: $!\n";
    print $fh $d;
    close $fh or die "$path: $!\n";
  ' "$1" "$2"
}

# Every command of both tools; fields split at "|". @M is the machine, @F the damaged file, @P the
# policy file, @MR and @FR the REGEDIT4 files for the machine and for a single file, @E an empty
# argument. The read-only commands are marked with a leading "ro|".
commands=(
  "ro|policy|users"
  "ro|policy|show|ann"
  "ro|policy|show|bob"
  "policy|set|ann|NoFind|1"
  "policy|set|bob|NoDrives|0"
  "policy|set|ann|ProgramsFolder|C:\\WINDOWS\\Start Menu\\Programs"
  "policy|set|ann|StartMenuFolder|@E"
  "policy|allow|ann|notepad.exe"
  "policy|disallow|ann|calc.exe"
  "policy|add-user|zed"
  "policy|remove-user|bob"
  "policy|remove-user|ann"
  "ro|policy|activation"
  "policy|activation|off"
  "policy|activation|on"
  "ro|policy|policies|user:ann"
  "ro|policy|policies|computer:.default"
  "policy|policy|user:.default|Shell\\Restrictions\\Disable Shut Down command|on"
  "policy|policy|user:ann|Desktop\\Wallpaper|on|Wallpaper name=C:\\KIOSK.BMP"
  "policy|policy|group:staff|Shell\\Restrictions\\Remove 'Run' command|off"
  "ro|policy|groups"
  "policy|add-group|pupils"
  "policy|remove-group|staff"
  "policy|group-priority|staff"
  "policy|add-computer|KIOSK2"
  "policy|remove-computer|KIOSK1"
  "ro|policy|effective|ann|--group|staff|--computer|KIOSK1"
  "policy|apply-logon|ann|--computer|KIOSK1"
  "ro|reg|--machine|@M|export"
  "ro|reg|--machine|@M|export|HKEY_CURRENT_USER"
  "reg|--machine|@M|import|@MR"
  "reg|import|@FR|@P"
  "reg|import|@FR|@F"
  "ro|reg|export|@F"
)

# listing DIR: every entry under DIR but the lock, with a checksum per file.
listing() {
  (
    cd "$1"
    find . ! -type f -printf '%y %p\n'
    find . -type f ! -path ./tarnwick.lock -exec sha256sum {} +
  ) | LC_ALL=C sort
}

passed=0
failed=0
for target in "${targets[@]}"; do
  for kind in "${damages[@]}"; do
    rm -rf "$damaged"
    cp -a "$good" "$damaged"
    damage "$damaged/$target" "$kind"
    listing "$damaged" >"$work/before"
    for entry in "${commands[@]}"; do
      IFS='|' read -r -a words <<<"$entry"
      readonly_command=false
      if [[ ${words[0]} == ro ]]; then
        readonly_command=true
        words=("${words[@]:1}")
      fi
      argv=()
      label=tarnwick-${words[0]}
      case ${words[0]} in
        policy) argv=("$policy" --machine "$run") ;;
        reg) argv=("$reg") ;;
      esac
      for word in "${words[@]:1}"; do
        case $word in
          @M) argv+=("$run") label+=" DIR" ;;
          @F) argv+=("$run/$target") label+=" $target" ;;
          @P) argv+=("$run/c/WINDOWS/Tarnex.pol") label+=" c/WINDOWS/Tarnex.pol" ;;
          @MR) argv+=("$work/machine.reg") label+=" machine.reg" ;;
          @FR) argv+=("$work/file.reg") label+=" file.reg" ;;
          @E) argv+=("") label+=" ''" ;;
          *) argv+=("$word") label+=" $word" ;;
        esac
      done

      rm -rf "$run"
      cp -a "$damaged" "$run"
      status=0
      timeout -k 5 20 "${argv[@]}" >"$work/out" 2>"$work/err" </dev/null || status=$?
      listing "$run" >"$work/after"
      problems=()
      if grep -qE 'AddressSanitizer|LeakSanitizer|runtime error' "$work/err"; then
        problems+=("sanitizer: $(grep -m2 -E 'ERROR: |runtime error|SUMMARY: ' "$work/err" | tr '\n' ' ')")
      fi
      case $status in
        0 | 1) ;;
        124 | 137) problems+=("hang: no end within 20 s") ;;
        *) problems+=("exit status $status: $(head -c 200 "$work/err" | tr '\n' ' ')") ;;
      esac
      changed=$(LC_ALL=C comm -13 "$work/before" "$work/after" | sed 's/^[0-9a-f]\{64\}  //')
      if [[ -n $changed ]] && { [[ $status != 0 ]] || $readonly_command; }; then
        if $readonly_command; then what="read-only command"; else what="exit $status"; fi
        problems+=("$what but changed (- before, + after): $(LC_ALL=C comm -3 "$work/before" \
          "$work/after" | sed -e 's/^\t\([0-9a-f]\{64\}  \)\{0,1\}/+/' -e t \
          -e 's/^\([0-9a-f]\{64\}  \)\{0,1\}/-/' | tr '\n' ' ')")
      fi
      if [[ $status == 0 ]]; then
        while IFS= read -r path; do
          [[ $path =~ \.([Dd][Aa][Tt0]|[Pp][Oo][Ll])$ && -f $run/$path ]] || continue
          if ! cregexport "$run/$path" >/dev/null 2>"$work/creg" || [[ -s $work/creg ]]; then
            problems+=("$path changed and does not read cleanly: $(head -c 200 "$work/creg" | tr '\n' ' ')")
          fi
        done <<<"$changed"
      fi
      if ((${#problems[@]} == 0)); then
        passed=$((passed + 1))
      else
        failed=$((failed + 1))
        for problem in "${problems[@]}"; do
          echo "FAIL $target, $kind, $label: $problem"
        done
      fi
    done
  done
done
echo "matrix: $passed passed, $failed failed"
((failed == 0))
