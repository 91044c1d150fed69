#!/usr/bin/env bash
# Installs what is missing, builds the setup program with its sample payload
# and runs it under Wine: the progress window shows while the payload is
# expanded, the sample installer lists what it finds, and the setup removes
# the extracted files once the installer has ended. A screenshot of the
# progress window is saved to BUILD/demo/setup-window.png.
#
# VELTRANO_DEMO_DPI=144 (or any DPI) runs it on a screen of that DPI: Wine's
# LogPixels setting is set for the run and put back afterwards.
#
# It runs the 32-bit setup (build/), or the 64-bit one (build64/) on a host
# that cannot run 32-bit programs, and says which.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

say() { printf 'demo: %s\n' "$*"; }

if ! scripts/host-runs 64; then
  echo "demo: this host cannot run x86-64 programs, so Wine cannot run the" \
    "setup; use an x86-64 Linux host" >&2
  exit 1
fi
bash scripts/setup.sh
if scripts/host-runs 32 --native; then
  preset=mingw-release build=build arch=win32
  say "running the 32-bit setup"
elif scripts/host-runs 32; then
  preset=mingw-release build=build arch=win32
  say "running the 32-bit setup under processor emulation (qemu-i386): this host's kernel" \
    "cannot run 32-bit programs itself"
else
  preset=mingw64-release build=build64 arch=win64
  say "running the 64-bit setup: this host cannot run 32-bit programs (no IA32 emulation, and" \
    "no emulator could be set up)"
fi
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" --target VeltranoSetup -- -j"$(nproc)"

prefix="$root/$build/wineprefix"
out="$root/$build/demo"
setup_exe="$root/$build/setup/VeltranoSetup.exe"
rm -rf "$out"
mkdir -p "$out"
in_wine() { scripts/wine-run --prefix "$prefix" --arch "$arch" "$@"; }
dpi=${VELTRANO_DEMO_DPI:-}
case "$dpi" in
  "") ;;
  *[!0-9]*) echo "demo: VELTRANO_DEMO_DPI must be a number of dots per inch, such as 144" >&2; exit 2 ;;
esac
desktop='HKCU\Control Panel\Desktop'
old_dpi=""
finish() {
  if [ -n "$dpi" ]; then
    if [ -n "$old_dpi" ]; then
      in_wine reg add "$desktop" /v LogPixels /t REG_DWORD /d "$old_dpi" /f >/dev/null 2>&1 || true
    else
      in_wine reg delete "$desktop" /v LogPixels /f >/dev/null 2>&1 || true
    fi
  fi
  in_wine --stop
}
trap finish EXIT

# Start Wine (and Xvfb when there is no display) once, so the setup itself
# starts at once and the window can be caught.
scripts/wine-run --prefix "$prefix" --arch "$arch" cmd /c exit 0 >/dev/null 2>&1 || true
if [ -n "$dpi" ]; then
  old_dpi=$(in_wine reg query "$desktop" /v LogPixels 2>/dev/null | awk '/LogPixels/ {print $3}' | tr -d '\r')
  in_wine reg add "$desktop" /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null
  say "the screen's DPI for this run: $dpi"
fi
display=${DISPLAY:-}
if [ -z "$display" ] && [ -f "$prefix/.display" ]; then
  display=$(cat "$prefix/.display")
fi

# The xwininfo description of the named window when it is shown.
visible_window() {
  local geometry
  geometry=$(DISPLAY=$display xwininfo -name "$1" 2>/dev/null) || return 1
  grep -q "Map State: IsViewable" <<<"$geometry" || return 1
  printf '%s\n' "$geometry"
}

# A picture of the window described by $1, with a margin, into the file $2.
capture() {
  local x y w h m=12
  x=$(awk '/Absolute upper-left X/ {print $4}' <<<"$1")
  y=$(awk '/Absolute upper-left Y/ {print $4}' <<<"$1")
  w=$(awk '/Width:/ {print $2}' <<<"$1")
  h=$(awk '/Height:/ {print $2}' <<<"$1")
  DISPLAY=$display import -window root -crop "$((w + 2 * m))x$((h + 2 * m))+$((x - m))+$((y - m))" \
    +repage "$2" 2>/dev/null
}

report_win='C:\veltrano-demo-report.txt'
report_unix="$prefix/drive_c/veltrano-demo-report.txt"
rm -f "$report_unix"

say "running $(basename "$setup_exe") ($(du -h "$setup_exe" | cut -f1)) under Wine on display $display"
start=$(date +%s.%N)
VELTRANO_INSTALLER_REPORT="$report_win" VELTRANO_INSTALLER_SHOW_MS=3000 \
  scripts/wine-run --prefix "$prefix" --arch "$arch" "$setup_exe" &
setup_pid=$!

# Catch the progress window while the payload is being expanded: take a
# picture every tenth of a second while it is visible and keep the middle one.
shot=""
shots=0
for _ in $(seq 1 600); do
  if geometry=$(visible_window "Qor Veltrano Setup"); then
    capture "$geometry" "$out/progress-$shots.png" && shots=$((shots + 1))
  elif [ "$shots" -gt 0 ]; then
    break
  fi
  kill -0 "$setup_pid" 2>/dev/null || break
  sleep 0.1
done
if [ "$shots" -gt 0 ]; then
  # Keep a picture with the bar part way: the first one that differs from
  # both the first (empty bar) and the last (full bar); else the middle one.
  keep=$(( (shots - 1) / 2 ))
  last=$((shots - 1))
  for i in $(seq 1 $((shots - 2))); do
    a=$(compare -metric AE "$out/progress-$i.png" "$out/progress-0.png" null: 2>&1 || true)
    b=$(compare -metric AE "$out/progress-$i.png" "$out/progress-$last.png" null: 2>&1 || true)
    if [ "${a%% *}" != "0" ] && [ "${b%% *}" != "0" ]; then
      keep=$i
      break
    fi
  done
  mv "$out/progress-$keep.png" "$out/setup-window.png"
  [ -n "${VELTRANO_DEMO_KEEP_SHOTS:-}" ] || rm -f "$out"/progress-*.png
  shot="$out/setup-window.png"
fi

# The sample installer's window, while it runs.
for _ in $(seq 1 200); do
  if geometry=$(visible_window "Veltrano sample installer"); then
    sleep 0.5
    capture "$geometry" "$out/installer-window.png" || true
    break
  fi
  kill -0 "$setup_pid" 2>/dev/null || break
  sleep 0.1
done

set +e
wait "$setup_pid"
code=$?
set -e
end=$(date +%s.%N)

echo
say "what happened"
if [ -f "$report_unix" ]; then
  cwd=$(sed -n 's/^cwd=//p' "$report_unix" | tr -d '\r')
  say "  installer started: yes, command line \"$(sed -n 's/^cmdline=//p' "$report_unix" | tr -d '\r')\""
  say "  installer's current directory: $cwd"
  say "  files extracted beside it:"
  sed -n 's/^file=/demo:     /p' "$report_unix" | tr -d '\r'
  target_unix=$(scripts/wine-run --prefix "$prefix" --arch "$arch" winepath -u "$cwd" 2>/dev/null | tr -d '\r')
  say "  installer ended: yes (the setup waits for it before it cleans up)"
  if [ -n "$target_unix" ] && [ ! -e "$target_unix" ]; then
    say "  target folder removed: yes"
  else
    say "  target folder removed: NO ($target_unix)"
  fi
else
  say "  installer started: NO (no report)"
fi
say "  setup exit code: $code"
say "  run time: $(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.1f", b - a }') s"
if [ -n "$shot" ]; then
  say "  screenshot of the progress window: ${shot#"$root"/}"
else
  say "  screenshot: the window was not caught"
fi
[ -f "$out/installer-window.png" ] && say "  screenshot of the sample installer: $build/demo/installer-window.png"
rm -f "$report_unix"
[ "$code" -eq 0 ]
