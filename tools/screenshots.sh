#!/usr/bin/env bash
# Starts the wizard under Xvfb in English, French and German and saves every
# page, the exit question, the folder chooser and the About box as PNG files
# under docs/screenshots/ (<language>-<what>.png), then installs into a
# scratch MW_ROOT (as the current user) for the finished log and the end
# page. Nothing outside the scratch root is written.
#   tools/screenshots.sh [build-folder]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
cmake --build "$build" -j2 --target InstallArbolux7.13c xshot >/dev/null
out=docs/screenshots
mkdir -p "$out"

# shellcheck source=tools/lib/xvfb.sh
. tools/lib/xvfb.sh
work=$(mktemp -d /tmp/mw-shots.XXXXXX)
cleanup() {
  [ -n "${app_pid:-}" ] && kill "$app_pid" 2>/dev/null || true
  stop_xvfb
  rm -rf "$work"
}
trap cleanup EXIT
start_xvfb 150 170 1024x768x24 || { echo "no X server could be started" >&2; exit 1; }

dump="$work/dump.txt"
# The last record of a window class in the dump, one control a line.
last_record() { awk -v cls="$1" '$1=="window"{keep=($2==cls); if(keep) rec=""} keep{rec=rec $0 "\n"} END{printf "%s", rec}' "$dump"; }
# Screen centre of control ID in the last record of CLASS.
centre() {
  last_record "$1" | awk -F'\t' -v id="$2" '
    $1=="window"{wx=$4; wy=$5}
    $1=="control" && $3==id {print wx+$5+int($7/2), wy+$6+int($8/2); exit}'
}
click() { local xy; xy=$(centre "$1" "$2"); xdotool mousemove ${xy% *} ${xy#* } mousedown 1 sleep 0.1 mouseup 1; settle; }
key() { xdotool key "$@"; settle; }
settle() { sleep 0.4; }
wait_class() {
  for _ in $(seq 100); do
    if xdotool search --onlyvisible --class "$1" >/dev/null 2>&1; then settle; return 0; fi
    sleep 0.1
  done
  echo "no window of class $1" >&2; return 1
}
# The text of control ID in the last record of CLASS.
text_of() { last_record "$1" | awk -F'\t' -v id="$2" '$1=="control" && $3==id {print $4; exit}'; }
# Waits until control ID of CLASS no longer reads TEXT (an installation
# takes its time; at its end Cancel becomes Exit).
wait_changed() {
  for _ in $(seq 600); do
    if [ "$(text_of "$1" "$2")" != "$3" ]; then settle; return 0; fi
    sleep 0.1
  done
  echo "control $2 of $1 still reads $3" >&2; return 1
}
# The screen around the wizard, for its pop-up menus (the language list may
# open above the window: it puts the current language over its box).
shot_around() {
  local geo; geo=$(last_record Wizard | awk -F'\t' '$1=="window"{print $4-10, $5-40, $6+20, $7+50; exit}')
  sleep 0.3; build/bin/xshot root "$out/$1.png" $geo; echo "$out/$1.png"
}
# Escape until no window of the class is shown any more.
close_class() {
  for _ in $(seq 20); do
    xdotool search --onlyvisible --class "$1" >/dev/null 2>&1 || { settle; return 0; }
    xdotool key Escape; sleep 0.3
  done
  echo "the $1 window does not close" >&2; return 1
}
shot() { sleep 0.3; build/bin/xshot "$(xdotool search --onlyvisible --class "$1" | tail -1)" "$out/$2.png"; echo "$out/$2.png"; }

start_wizard() {
  root="/tmp/mw-$tag"; rm -rf "$root"; mkdir -p "$root/run/lock"
  rm -f "$dump"
  MW_ROOT="$root" HOME="$root" TMPDIR=/tmp MW_NO_ELEVATION=1 LANG="$locale.UTF-8" LC_ALL="$locale.UTF-8" \
    MW_UI_DUMP="$dump" "$build/bin/InstallArbolux7.13c" >/dev/null 2>&1 &
  app_pid=$!
  wait_class Wizard
}
stop_wizard() {
  kill "$app_pid" 2>/dev/null || true; wait "$app_pid" 2>/dev/null || true; app_pid=""
  rm -rf "$root"
}

for lang in ${MW_SHOT_LANGS:-en:en_US de:de_DE fr:fr_FR}; do
  tag=${lang%%:*}; locale=${lang#*:}
  start_wizard
  shot Wizard "$tag-1-start"
  click Wizard 1;          shot Wizard "$tag-2-method"
  click Wizard 1019
  click Wizard 1;          shot Wizard "$tag-3-folder"
  click Wizard 1006;       wait_class FolderBrowser; shot FolderBrowser "$tag-3b-folder-chooser"
  close_class FolderBrowser
  click Wizard 1;          shot Wizard "$tag-4-shortcuts"
  click Wizard 1;          shot Wizard "$tag-5-progress"
  key Escape;              wait_class MessageBox; shot MessageBox "$tag-6-exit-question"
  key Return  # No, the default
  key alt+space;           shot_around "$tag-7-window-menu"
  key Up Return;           wait_class About; shot About "$tag-8-about"
  close_class About
  # Installed into the scratch root: the log as the installation left it,
  # then the end page.
  cancel=$(text_of Wizard 2)
  click Wizard 1;          wait_changed Wizard 2 "$cancel"; shot Wizard "$tag-5b-installed"
  click Wizard 1;          shot Wizard "$tag-9-end"
  stop_wizard
  # The dropped language list, with every flag and name.
  start_wizard
  click Wizard 1023;       shot_around "$tag-1b-languages"
  stop_wizard
done
