#!/usr/bin/env bash
# Kills tarnwick-policy with SIGKILL at random moments while it writes a disk image (set, and
# add-user with a copied Programs folder), on a FAT16 image it made itself, a FAT32 image made by
# sfdisk, mkfs.fat and mcopy, and a dynamic VHD made by qemu-img. After each kill: fsck.fat -n
# finds nothing worse than clusters no file holds, every registry file (SYSTEM.DAT, USER.DAT,
# Tarnex.pol, each user.dat) reads cleanly with cregexport, and the next run opens the image.
#
# Usage: scripts/kill-trials-image.sh [KILLS [BUILD_DIR]]   (default 500 kills, build-test)
# The kills are shared out over the three images. Exit status 0 when every check held.
set -euo pipefail
kills=${1:-500}
build=${2:-build-test}
policy=$build/tools/tarnwick-policy/tarnwick-policy
[[ -x $policy ]] || { echo "kill-trials-image: $policy is not built" >&2; exit 2; }
for tool in cregexport fsck.fat mcopy qemu-img sfdisk; do
  command -v "$tool" >/dev/null || { echo "kill-trials-image: $tool is missing" >&2; exit 2; }
done

# shellcheck source=scripts/kill-trial-lib.sh
source "$(dirname "$0")/kill-trial-lib.sh"
work=$(work_folder tarnwick-image-kills)
trap 'rm -rf "$work"' EXIT

# The byte offset of the first partition (0 for a disk without a table).
offset_of() {
  local start
  start=$(sfdisk -d "$1" 2>/dev/null | sed -n 's/.*start= *\([0-9]*\).*/\1/p' | head -1)
  echo $((${start:-0} * 512))
}

# A raw copy of the image's FAT volume in $work/volume.raw, holes kept sparse: qemu-img reads
# the volume at its offset inside a raw or VHD disk.
extract_volume() {
  local format=raw
  [[ $1 == *.vhd ]] && format=vpc
  rm -f "$work/volume.raw"
  qemu-img convert -O raw --image-opts \
    "driver=raw,offset=${offsets[$1]},file.driver=$format,file.file.filename=$1" "$work/volume.raw"
}

check() {
  if ! "$policy" --image "$image" users >"$work/users" 2>"$work/err"; then
    fail "users failed: $(head -c 300 "$work/err")"
    return
  fi
  extract_volume "$image"
  local volume=$work/volume.raw
  fsck.fat -n "$volume" >"$work/fsck" 2>&1 || true
  local damage
  damage=$(grep -v -E '^fsck\.fat |^$|unused cluster|Free cluster summary|Leaving filesystem|files, [0-9]+/[0-9]+ clusters|^ *Auto-correcting|^ *Correcting' \
    "$work/fsck" || true)
  [[ -z $damage ]] || fail "fsck.fat: $(head -c 400 <<<"$damage")"
  local file
  while read -r file; do
    rm -f "$work/hive"
    if ! mcopy -n -i "$volume" "::$file" "$work/hive" 2>"$work/err"; then
      fail "mcopy $file: $(head -c 200 "$work/err")"
      continue
    fi
    if ! cregexport "$work/hive" >/dev/null 2>"$work/err" || [[ -s $work/err ]]; then
      fail "$file does not read cleanly: $(head -c 300 "$work/err")"
    fi
  done < <(
    printf '%s\n' /WINDOWS/SYSTEM.DAT /WINDOWS/USER.DAT /WINDOWS/Tarnex.pol
    sed '/^$/d; s|.*|/WINDOWS/Profiles/&/user.dat|' "$work/users"
  )
  rm -f "$volume"
}

run_command() {
  case $1 in
    0) exec "$policy" --image "$image" add-user "$2" --copy-programs ann ;;
    1) exec "$policy" --image "$image" set "$2" NoRun "$3" ;;
  esac
}

# The three images: FAT16 as tarnwick-policy makes a new one, FAT32 from the demo machine's files
# copied by mcopy, and the FAT16 image as a dynamic VHD.
"$policy" --image "$work/fat16.img" users >/dev/null
"$policy" --machine "$work/demo" users >/dev/null
truncate -s 64M "$work/fat32.img"
echo 'start=2048, type=c' | sfdisk -q "$work/fat32.img"
mkfs.fat -F 32 -n WIN95 --offset 2048 "$work/fat32.img" $((64 * 1024 - 1024)) >/dev/null
(cd "$work/demo/c" && mcopy -s -i "$work/fat32.img@@$((2048 * 512))" ./* ::/)
qemu-img convert -f raw -O vpc "$work/fat16.img" "$work/dynamic.vhd"
declare -A offsets
for image in "$work/fat16.img" "$work/fat32.img"; do offsets[$image]=$(offset_of "$image"); done
offsets[$work/dynamic.vhd]=${offsets[$work/fat16.img]}

total_trials=0
for image in "$work/fat16.img" "$work/fat32.img" "$work/dynamic.vhd"; do
  fail_prefix="$image "
  share=$((kills / 3))
  [[ $image == *.vhd ]] && share=$((kills - 2 * (kills / 3)))
  "$policy" --image "$image" add-user ann >/dev/null
  declare -a span_ms=(0 0)
  for command in 0 1; do
    start=$(now_ms)
    if ((command == 0)); then
      run_command 0 calib >/dev/null 2>&1 &
    else
      run_command 1 ann 1 >/dev/null 2>&1 &
    fi
    wait $! || true
    span_ms[command]=$(($(now_ms) - start))
  done
  landed=0
  declare -A killed=() finished=()
  for ((trial = 1; landed < share; trial++)); do
    command=$((trial % 2))
    what=$([[ $command == 0 ]] && echo add-user || echo set)
    span=${span_ms[command]}
    if ((command == 0)); then
      kill_one $((RANDOM % (span + 1))) 0 "u$trial"
    else
      kill_one $((RANDOM % (span + 1))) 1 ann $((trial / 2 % 2))
    fi
    check
  done
  total_trials=$((total_trials + trial - 1))
  for what in add-user set; do
    echo "$(basename "$image") $what: ${killed[$what]:-0} killed while running, ${finished[$what]:-0} finished first"
  done
done
echo "trials: $total_trials, kills: $kills, failed checks: $failures"
((failures == 0))
