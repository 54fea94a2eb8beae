#!/usr/bin/env bash
# ezcap record on a simulated camera: its refusals, each format, the summary
# and the exit status; the OME-TIFF's pages counted by tiffinfo.
#   test_record_ezcap.sh PATH-TO-EZCAP
set -uo pipefail
ezcap=$1
work=$(mktemp -d /tmp/ezcap-record-XXXXXX)
trap 'rm -rf "$work"' EXIT
export EZCAM_SIM=0547:c004 EZCAM_SIM_PACE=0
failures=0
fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
}
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

expect 0 --help
contains "$out" "record OUT --frames N | --seconds S"
contains "$out" "repair FILE"
expect 2 record "$work/x"
contains "$out" "needs --frames N or --seconds S"
expect 2 record "$work/x" --frames 3 --seconds 1
expect 2 record "$work/x" --frames 3 --format avi
contains "$out" "unknown recording format 'avi'"
expect 2 record "$work/nowhere/x" --frames 3
contains "$out" "cannot write to"

for format in ome-tiff fits fits-frames ser; do
  expect 0 resolution 2 record "$work/run-$format" --frames 4 --format "$format"
  contains "$out" "recorded 4 of 4 frames"
  contains "$out" "dropped 0 (queue full)"
done
ls "$work"/run-fits-frames_00000[1-4].fits >/dev/null || fail "fits-frames files missing"
pages=$(tiffinfo "$work/run-ome-tiff.ome.tif" 2>/dev/null | grep -c "TIFF Directory at")
[ "$pages" -eq 4 ] || fail "OME-TIFF has $pages pages, expected 4"

# Repair: a finished file is left as it is; what is no recording is refused.
expect 0 repair "$work/run-ser.ser"
contains "$out" "is complete: 4 frames"
expect 1 repair "$work/nothing.ser"
contains "$out" "cannot open $work/nothing.ser"
printf 'not a recording' >"$work/text.fits"
expect 1 repair "$work/text.fits"
contains "$out" "is not a recording"

# At the camera's own frame rate: an unpaced camera may outrun the disk.
EZCAM_SIM_PACE=1 expect 0 resolution 2 record "$work/timed.ser" --seconds 0.5
contains "$out" "to $work/timed.ser"

[ "$failures" -eq 0 ] && echo "ezcap record: all checks passed"
exit $((failures > 0))
