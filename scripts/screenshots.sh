#!/usr/bin/env bash
# Screenshots of the real program under Xvfb, for looking at, not a test (its steps wait by
# time): tinted pending and refused rows with the status line and the refusal tooltip, then the
# progress box of a long open; in the light palette, or with "dark" in the program's dark one
# (SORVANTO_PALETTE=dark, Fusion style).
#   scripts/screenshots.sh build/sorvanto scripts build/screenshots/light
#   scripts/screenshots.sh build/sorvanto scripts build/screenshots/dark dark
# Writes PREFIX-tints-tooltip.png and PREFIX-progress.png; needs imagemagick (import).
set -euo pipefail
program=$1; scripts=$2; out=$3; palette=${4:-light}
work=$(mktemp -d); xvfb_pid=""; program_pid=""
cleanup() { [ -n "$program_pid" ] && kill "$program_pid" 2>/dev/null || true; [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 300); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(tr -d '[:space:]' <"$work/display")"
for _ in $(seq 300); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
export SORVANTO_DRIVES=$work/drives
# A lock folder of this run's own, shared by the program and isql-fb below.
export FIREBIRD_LOCK=$work/lock; mkdir -m 700 "$FIREBIRD_LOCK"
unset QT_QPA_PLATFORM
bash "$scripts/seed-demo.sh" >"$work/seed.log" 2>&1
. "$scripts/firebird-root.sh"
root=$(cd "$work" && pwd -P)/fbroot; mkdir -p "$root"
link_firebird_root /usr/lib/x86_64-linux-gnu/firebird/3.0 "$root" firebird.conf databases.conf
printf 'ServerMode = SuperClassic\n' >"$root/firebird.conf"; : >"$root/databases.conf"
isql() { printf '%s\n' "$1" | FIREBIRD=$root isql-fb -q -ch UTF8 -user SYSDBA "$SORVANTO_DRIVES/c/firebird/document.fdb"; }
export QT_STYLE_OVERRIDE=Fusion
[ "$palette" = dark ] && export SORVANTO_PALETTE=dark
LANG=ja_JP.UTF-8 "$program" >"$work/run.log" 2>&1 &
program_pid=$!
window=""
for _ in $(seq 300); do window=$(xdotool search --onlyvisible --name '^Sorvanto$' 2>/dev/null | head -n1 || true); [ -n "$window" ] && break; sleep 0.1; done
eval "$(xdotool getwindowgeometry --shell "$window")"
at() { awk -v v="$1" -v w="$WIDTH" 'BEGIN { printf "%d", v * w / 484 + 0.5 }'; }
click_at() { xdotool mousemove --window "$window" "$1" "$2" click 1; }
shot() { sleep 0.4; import -window root -crop "$((WIDTH + 260))x$((HEIGHT + 40))+$((X - 20))+$((Y - 20))" "$1"; }
nav_button() { local slot=$1 top=$2 width; width=$(at 234); width=$((width - width % 9)); echo "$(($(at 48) + slot * (width / 9) + width / 18)) $(($(at "$top") + $(at 25) / 2))"; }
row_y() { echo $(($(at 58) + 2 + 18 + 9 + ($1 - 1) * 18)); }
click_at "$(at 285)" "$(at 12)"; sleep 1.5
xdotool key --clearmodifiers Return; sleep 0.8
click_at "$(at 429)" "$(at 44)"; sleep 1.5
# Row 2's KEY_WORD, typed and left: pending; someone else changes the row; row 3 too; then a
# navigator click applies: row 2 refused, row 3 sent; row 4 typed and left: pending.
type_row() { click_at "$(at 80)" "$(row_y "$1")"; sleep 0.3; xdotool key Home Right Right; xdotool type --delay 30 "$2"; xdotool key Down; sleep 0.3; }
type_row 2 "renamed here"
isql "update KEY_WORDS set KEY_WORD = 'changed elsewhere' where KEYWORD_NO = 2; commit;"
type_row 3 "also renamed"
read -r bx by <<<"$(nav_button 2 174)"; click_at "$bx" "$by"; sleep 1
type_row 5 "pending edit"
xdotool key Up Up Up Up Up Up Home; sleep 0.3
xdotool mousemove --window "$window" "$(at 300)" "$(row_y 2)"; sleep 0.2
xdotool mousemove --window "$window" "$(($(at 300) + 3))" "$(row_y 2)"; sleep 1.5
shot "${out}-tints-tooltip.png"
# A million rows, then the view opened again: the progress box.
isql "set term ^; execute block as declare i integer = 1000; begin while (i < 1000000) do begin insert into KEY_WORDS (KEYWORD_NO, ID, KEY_WORD, USER_NAME) values (:i, :i, 'keyword ' || :i, 'SYSDBA'); i = i + 1; end end^ set term ;^ commit;" >/dev/null
click_at "$(at 429)" "$(at 44)"; sleep 0.6
shot "${out}-progress.png"
sleep 3
echo done
