#!/usr/bin/env bash
# The 32-bit Windows leg: cross-builds OrvaneCom.dll with mingw-w64, checks its
# export and import tables, and runs under Wine the host test program, which
# must reproduce the Linux build's templates, scores, quality values and stage
# images byte for byte, and the library's unit test programs (GoogleTest built
# for mingw-w64 from Debian's googletest sources, cmake/gtest-cross.cmake).
#
#   scripts/windows-leg.sh
#
# Environment: ORVANE_LINUX_BUILD (Linux build dir to take the expected values
# from, default build/release), ORVANE_WIN_BUILD (default build/win32),
# ORVANE_DATA_DIR (real prints, default ../shared/data; without them the leg
# runs on synthetic prints alone), ORVANE_WIN_PRINTS_PER_FOLDER (real prints the
# host program takes from each folder, default 6; the unit tests read them all).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
start=$(date +%s)
step() { echo "== windows leg: $* ($(($(date +%s) - start)) s)"; }

# --- packages ---------------------------------------------------------------
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
missing=()
for p in g++-mingw-w64-i686 binutils-mingw-w64-i686 wine wine32:i386 googletest; do installed "$p" || missing+=("$p"); done
if [ ${#missing[@]} -gt 0 ]; then
  step "installing ${missing[*]}"
  dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
wine=$(command -v wine || command -v wine-stable)
objdump=i686-w64-mingw32-objdump

# --- expected values from the Linux build -------------------------------------
linux_build=${ORVANE_LINUX_BUILD:-build/release}
if [ ! -f "$linux_build/build.ninja" ]; then
  [ -n "${ORVANE_LINUX_BUILD:-}" ] || linux_build=build/windows-linux
  cmake -S . -B "$linux_build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVANE_BENCH=OFF -DORVANE_TOOLS=OFF >/dev/null
fi
step "Linux writer in $linux_build"
cmake --build "$linux_build" --target orvane_win_expected -j "$(nproc)" >/dev/null
writer=$(find "$linux_build" -name orvane_win_expected -type f -perm -u+x | head -n 1)
angles=""
if cmake --build "$linux_build" --target orvane_win_angles -j "$(nproc)" >/dev/null 2>&1; then
  angles=$(find "$linux_build" -name orvane_win_angles -type f -perm -u+x | head -n 1)
fi

win_build=${ORVANE_WIN_BUILD:-build/win32}
case "$win_build" in /*) ;; *) win_build=$root/$win_build ;; esac
cases=$win_build/cases
data_dir=${ORVANE_DATA_DIR:-$root/../shared/data}
case "$data_dir" in /*) ;; *) data_dir=$root/$data_dir ;; esac
rm -rf "$cases"
mkdir -p "$win_build"
if [ -d "$data_dir" ]; then
  "$writer" "$cases" "$data_dir" "${ORVANE_WIN_PRINTS_PER_FOLDER:-6}"
else
  echo "no real prints at $data_dir: synthetic prints only"
  "$writer" "$cases"
fi
if [ -n "$angles" ]; then
  "$angles" "$cases/angles.txt"
else
  echo "NOTE: angle comparison skipped (tests/support/angle_cases.h does not fit this tree's stages)"
fi

# --- cross build --------------------------------------------------------------
step "cross build"
cmake -S . -B "$win_build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-i686.cmake" \
  -DCMAKE_CROSSCOMPILING_EMULATOR="$wine" \
  -DORVANE_BENCH=OFF -DORVANE_TOOLS=OFF -DORVANE_DATA_DIR="$data_dir" \
  -DORVANE_WIN_CASES="$cases" >/dev/null
cmake --build "$win_build" -j "$(nproc)"
dll=$win_build/bin/OrvaneCom.dll

# --- export and import tables -------------------------------------------------
step "export and import tables"
"$objdump" -p "$dll" >"$win_build/objdump.txt"
exports=$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' "$win_build/objdump.txt" |
  sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\][[:space:]]*//p' | sort)
wanted=$(printf '%s\n' Extract ExtractEx GetQuality LoadFeature LoadFinger SaveFeature SaveFinger VerifyMatch | sort)
sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' "$win_build/objdump.txt"
if [ "$exports" != "$wanted" ]; then
  echo "FAIL: OrvaneCom.dll exports differ from the eight names:" >&2
  diff <(echo "$wanted") <(echo "$exports") >&2 || true
  exit 1
fi
imports=$(sed -n 's/^[[:space:]]*DLL Name:[[:space:]]*//p' "$win_build/objdump.txt" | sort -u)
echo "imports: $(echo $imports)"
for dll_name in $imports; do
  case "${dll_name,,}" in
    kernel32.dll | msvcrt.dll) ;;
    *) echo "FAIL: OrvaneCom.dll imports $dll_name" >&2; exit 1 ;;
  esac
done

# The library's own code does its double arithmetic in SSE2 only: an x87
# operation would compute in extended precision (moving a returned double
# through st(0) is exact and allowed).
x87=$(find "$win_build"/CMakeFiles/orvane_*.dir -name '*.obj' -exec "$objdump" -d --no-show-raw-insn {} + |
  grep -cE '[[:space:]]f(i?add|i?sub|i?subr|i?mul|i?div|i?divr|sqrt|sin|cos|sincos|patan|ptan|prem1?|scale|rndint|2xm1|yl2x)p?[[:space:]]' || true)
if [ "$x87" != 0 ]; then
  echo "FAIL: $x87 x87 arithmetic instructions in the library's objects" >&2
  exit 1
fi
echo "no x87 arithmetic in the library's objects"

# --- tests under Wine ---------------------------------------------------------
step "tests under Wine"
# The tests use the private prefix build/win32/wineprefix; stop its server after.
stop_wineserver() {
  local server
  server=$(command -v wineserver || command -v wineserver-stable || true)
  [ -z "$server" ] || WINEPREFIX="$win_build/wineprefix" "$server" -k 2>/dev/null || true
}
trap stop_wineserver EXIT
# The unit test programs of tests/ carry the label "unit" (cmake/gtest-cross.cmake).
unit_programs=$(ctest --test-dir "$win_build" -N -L unit | sed -n 's/^ *Test *#[0-9]*: *//p' | grep -v '^win_' || true)
if [ -z "$unit_programs" ]; then
  echo "FAIL: no unit test programs in the cross build (is GoogleTest's source in /usr/src/googletest?)" >&2
  exit 1
fi
echo "unit test programs under Wine: $(echo $unit_programs)"
ctest --test-dir "$win_build" --output-on-failure -j "$(nproc)"
step "done"
