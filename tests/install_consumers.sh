#!/usr/bin/env bash
# Installs the build into a scratch prefix and uses it as a user would: checks
# the installed library's exports against the header, builds a C program with
# pkg-config and another with find_package, runs both on a simulated camera,
# and imports the installed Python package.
#   install_consumers.sh BUILD_DIR LIBDIR PYTHON_DIR UDEV_RULES_DIR PYTHON
set -euo pipefail
build=$1 libdir=$2 pythondir=$3 rulesdir=$4 python=$5
here=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
prefix=$scratch/prefix

cmake --install "$build" --prefix "$prefix" >/dev/null
viewer=; [ -e "$build/src/viewer/ezview" ] && viewer=bin/ezview
for file in bin/ezcap $viewer include/ezcam.h "$libdir/libezcam.so" "$rulesdir/60-ezcam.rules"; do
  [ -e "$prefix/$file" ] || { echo "not installed: $file"; exit 1; }
done
[ -e "$prefix/$libdir/libezcam.so.0" ] || { echo "no libezcam.so.0 (soname)"; exit 1; }
# The INDI driver, where libindi was found: installed with its entry for the
# driver lists, and it serves a simulated camera from the installed library.
if [ -e "$build/tools/indi/indi_ezcam_ccd" ]; then
  for file in bin/indi_ezcam_ccd share/indi/indi_ezcam.xml; do
    [ -e "$prefix/$file" ] || { echo "not installed: $file"; exit 1; }
  done
  { echo '<getProperties version="1.7"/>'; sleep 2; } |
    EZCAM_SIM=0547:c004 HOME=$scratch LD_LIBRARY_PATH=$prefix/$libdir \
    timeout 5 "$prefix/bin/indi_ezcam_ccd" >"$scratch/indi" 2>/dev/null || true
  grep -A1 '<defSwitchVector' "$scratch/indi" | grep -q "device='ezcam QC500 0'" ||
    { echo "the installed INDI driver did not answer:"; head -5 "$scratch/indi"; exit 1; }
fi
"$python" "$here/check_exports.py" "$prefix/include/ezcam.h" "$prefix/$libdir/libezcam.so"

export PKG_CONFIG_PATH=$prefix/$libdir/pkgconfig
# shellcheck disable=SC2046
cc -std=c99 -Wall -Wextra -Werror -o "$scratch/with_pkg_config" "$here/consumer/consumer.c" \
  $(pkg-config --cflags --libs ezcam)
cmake -S "$here/consumer" -B "$scratch/with_cmake" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$scratch/with_cmake" >/dev/null

# A malformed entry in EZCAM_SIM makes the library warn: on standard error,
# never on standard output, which is the program's own.
export EZCAM_SIM=0547:c004,junk EZCAM_SIM_PACE=0
expected='QC500.0 EZ_OK 2592x1944'
for program in "$scratch/with_pkg_config" "$scratch/with_cmake/consumer"; do
  LD_LIBRARY_PATH=$prefix/$libdir "$program" >"$scratch/out" 2>"$scratch/err"
  [ "$(cat "$scratch/out")" = "$expected" ] || { echo "$program wrote:"; cat "$scratch/out"; exit 1; }
  grep -q 'ezcam warn: EZCAM_SIM: ignoring "junk"' "$scratch/err" ||
    { echo "$program: no warning on standard error:"; cat "$scratch/err"; exit 1; }
done

# The installed Python package finds the installed library by itself.
env -u EZCAM_LIBRARY -u LD_LIBRARY_PATH EZCAM_SIM=0547:c004 PYTHONPATH="$prefix/$pythondir" \
  PYTHONDONTWRITEBYTECODE=1 "$python" -c 'import ezcam; assert ezcam.cameras() == ["QC500.0"]'
# pip's installation of the package finds the library through the prefix's
# ezcam.pc.
"$python" -m venv --system-site-packages --without-pip "$scratch/venv"
cp -r "$here/../python" "$scratch/python"
env -u PYTHONPATH "$scratch/venv/bin/python" -m pip install -q --no-index --no-deps \
  --no-build-isolation --disable-pip-version-check "$scratch/python"
(cd "$scratch" && env -u EZCAM_LIBRARY -u LD_LIBRARY_PATH -u PYTHONPATH EZCAM_SIM=0547:c004 \
  PKG_CONFIG_PATH="$prefix/$libdir/pkgconfig" PYTHONDONTWRITEBYTECODE=1 "$scratch/venv/bin/python" \
  -c 'import ezcam; assert ezcam.cameras() == ["QC500.0"], ezcam.cameras()')
echo "installed, consumers built and run"
