#!/usr/bin/env bash
# ezcap on a simulated camera: stills in every format (checked with file and
# tiffinfo), frames saved with SaveFile, parameter sets kept across runs, the
# information memory and the firmware version, and the exit codes.
#   ezcap_keeps.sh PATH-TO-EZCAP
set -uo pipefail
ezcap=$1
work=$(mktemp -d /tmp/ezcap-keeps-XXXXXX)
trap 'rm -rf "$work"' EXIT
export EZCAM_SIM=0547:c004@a100 EZCAM_SIM_PACE=0
failures=0

fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
}
# expect CODE COMMAND...: runs ezcap, keeps its output in $out.
expect() {
  local code=$1
  shift
  out=$("$ezcap" "$@" 2>&1)
  local got=$?
  [ "$got" -eq "$code" ] || fail "ezcap $* exited $got, expected $code: $out"
}
contains() {
  grep -qF -- "$2" <<<"$1" || fail "'$2' not in: $1"
}

# ---- help and refusals -------------------------------------------------------
expect 0 --help
for word in still save sets save-set load-set defaults inf-write inf-read firmware; do
  contains "$out" "  $word"
done
expect 2 still "$work/x" gif current
contains "$out" "unknown format 'gif'"
expect 2 still "$work/x" jpg 9
contains "$out" "out of range"
expect 2 still "$work/nowhere/x" jpg current
contains "$out" "no directory"
expect 2 --timeout 0 firmware
expect 2 sets
contains "$out" "need --dir"
expect 2 -d "$work/missing" sets
expect 2 -d "$work" save-set 26
expect 2 -d "$work" load-set 4
contains "$out" "does not exist"
expect 2 inf-write "$(head -c 511 /dev/zero | tr '\0' x)"

# ---- firmware and information memory -----------------------------------------
expect 0 firmware
contains "$out" "firmware version 0xa100"
expect 0 inf-write "objective 40x" inf-read
contains "$out" "objective 40x"
# 63 characters and the terminator make 64 bytes, whose last byte a write
# does not keep: the text still reads back whole.
text63=$(printf 'abcdefghi%.0s' 1 2 3 4 5 6 7)
expect 0 inf-write "$(printf '%.0s#' $(seq 80))" inf-write "$text63" inf-read
contains "$out" "$text63"
grep -q "$text63#" <<<"$out" && fail "old bytes after the text: $out"

# ---- parameter sets across runs ----------------------------------------------
sets=$work/sets
mkdir "$sets"
expect 0 -d "$sets" gain 77 resolution 2
expect 0 -d "$sets" show
contains "$out" "gain        77"
contains "$out" "resolution  2:"
# Modes of one size say which bins; the depths offered are listed.
contains "$out" "1=1272x952 (not binned),"
contains "$out" "3=1272x952 (binned),"
contains "$out" "0=2584x1936,"
contains "$out" "depth       8 bits (offered: 8)"
out=$(EZCAM_SIM=0547:c00a "$ezcap" show 2>&1) || fail "show on a 16-bit model: $out"
contains "$out" "(offered: 8, 16 at clock Normal, Low)"
# Set 4 is current at the end, so the run's last settings go there.
expect 0 -d "$sets" gain 40 save-set 3 gain 90 save-set 4 gain 95 sets
contains "$out" "saved parameter set 3"
contains "$out" "   3  $sets/QC500.d.txt"
contains "$out" "*  4  $sets/QC500.e.txt"
[ "$(stat -c %s "$sets/QC500.d.txt")" = 38 ] || fail "set file size"
expect 0 -d "$sets" show load-set 3
contains "$out" "gain        95"
contains "$out" "gain 40"
expect 0 -d "$sets/" defaults show
contains "$out" "gain        30"
chmod a-w "$sets" 2>/dev/null
if [ "$(id -u)" != 0 ]; then
  expect 1 -d "$sets" save-set 5
  contains "$out" "could not write"
fi
chmod u+w "$sets"

# ---- frames saved with SaveFile and stills -------------------------------------
check_files() {  # BASE WIDTH HEIGHT
  local base=$1 w=$2 h=$3
  contains "$(file -b "$base.png")" "PNG image data, $w x $h, 8-bit/color RGB"
  contains "$(file -b "$base.jpg")" "JPEG image data"
  contains "$(file -b "$base.jpg")" "${w}x${h}, components 3"
  contains "$(file -b "$base.bmp")" "PC bitmap"
  contains "$(file -b "$base.bmp")" "$w x $h x 24"
  contains "$(file -b "$base.tif")" "TIFF image data, little-endian"
  local info
  info=$(tiffinfo "$base.tif" 2>&1) || fail "tiffinfo $base.tif: $info"
  contains "$info" "Image Width: $w Image Length: $h"
  contains "$info" "Samples/Pixel: 3"
}

expect 0 resolution 2 save "$work/frame" all
check_files "$work/frame" 632 472
[ "$(stat -c %s "$work/frame.raw")" = $((512 + 640 * 480)) ] || fail "frame.raw size"
expect 2 save "$work/frame" jpg
contains "$out" "already exists"

expect 0 still "$work/shot" all 2
for ext in raw jpg bmp png tif; do contains "$out" "wrote $work/shot.$ext"; done
[ "$(grep -c '^wrote' <<<"$out")" = 5 ] || fail "five files reported once each: $out"
check_files "$work/shot" 632 472
[ "$(stat -c %s "$work/shot.raw")" = $((512 + 640 * 480)) ] || fail "shot.raw size"
expect 0 resolution 4 still "$work/tiff-only" tif current
[ -e "$work/tiff-only.tif" ] && [ ! -e "$work/tiff-only.jpg" ] || fail "only the TIFF"
expect 1 -t 1e-9 still "$work/late" jpg 1
contains "$out" "no still within"
[ -e "$work/late.jpg" ] && fail "a still after the time-out"

[ "$failures" -eq 0 ] && echo "all ezcap checks passed"
exit $((failures > 0))
