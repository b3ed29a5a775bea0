#!/usr/bin/env bash
# Takes the README's screenshot: the main window and the board simulator beside it, on a
# virtual X display. Needs: xvfb xterm xdotool imagemagick (Debian packages).
#   tools/screenshots/take.sh [build-dir] [output.png]
set -euo pipefail
build=${1:-build}
out=${2:-docs/screenshot.png}
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT

export DISPLAY=:97
Xvfb "$DISPLAY" -screen 0 1270x420x24 -nolisten tcp &
sleep 1

# A first-run-free settings file with the factory names.
mkdir -p "$work/domivox"
cat > "$work/domivox/registry.ini" <<'INI'
[Software\VAZ\Registry]
disclaimer="1"
ONBUTTON1="START TV"
ONBUTTON2="START SPRINKLER"
ONBUTTON3="FRONT LIGHTS ON"
ONBUTTON4="START POOL FILTER"
ONBUTTON5="OPEN GARAGE DOOR"
OFFBUTTON1="STOP TV"
OFFBUTTON2="STOP SPINKLER"
OFFBUTTON3="FRONT LIGHTS OFF"
OFFBUTTON4="STOP POOL FILTER"
OFFBUTTON5="CLOSE GARAGE DOOR"
picture="False"
caption="Domivox"
INI

# The simulator with its live table in a terminal on the right. The terminal it made is the
# /dev/pts entry among its own open files (0 to 2 are the terminal it runs in).
xterm -geometry 80x26+700+0 -fa 'Liberation Mono' -fs 10 -T domivox-board \
    -e "$build/tools/board/domivox-board" &
port=""
for _ in $(seq 50); do
    pid=$(pgrep -n -x domivox-board || true)
    [ -n "$pid" ] && port=$(for f in /proc/"$pid"/fd/*; do
        [ "${f##*/}" -gt 2 ] && readlink "$f"
    done | grep -m1 '^/dev/pts/' || true)
    [ -n "$port" ] && break
    sleep 0.1
done

XDG_CONFIG_HOME="$work" DOMIVOX_COM1="$port" "$build/domivox" &
win=""
for _ in $(seq 100); do
    win=$(xdotool search --onlyvisible --name '^Domivox$' 2>/dev/null | head -n1 || true)
    [ -n "$win" ] && break
    sleep 0.1
done
xdotool windowmove "$win" 0 0
sleep 1.5
# A few commands, so both sides show something: devices 1 and 3 on, devices 2 and 5 off.
for button in "112 66" "112 162" "288 114" "288 258"; do
    read -r x y <<<"$button"
    xdotool mousemove --window "$win" "$x" "$y" click 1
    sleep 0.3
done
sleep 1
import -window root "$out"
echo "wrote $out"
