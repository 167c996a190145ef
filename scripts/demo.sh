#!/usr/bin/env bash
# The library manager's main job on a built-in sample, through libman: a
# generated library of a few thousand parts and a zip container library are
# added to a project, enumerated, searched and drawn, and the configuration
# is exported in both versions. Argument: the build folder. The sample stays
# in BUILD/demo (hierarchy.svg among it) until the next run.
set -euo pipefail
build=$(cd "${1:?usage: demo.sh BUILD_FOLDER}" && pwd)
lpf="$build/apps/lpf/lpf"
libman="$build/apps/libman/libman"
demo="$build/demo"
rm -rf "$demo"
mkdir -p "$demo"
cd "$demo"

step() { printf '\n== %s\n' "$*"; }
# Prints the command as a user would type it, then runs it; a status of 1
# (the command found problems) does not end the demo.
run() {
  printf '$ libman'
  local a
  for a in "$@"; do
    case $a in *[[:space:]{}]*) printf ' "%s"' "$a" ;; *) printf ' %s' "$a" ;; esac
  done
  printf '\n'
  local status=0
  "$libman" "$@" || status=$?
  if [ "$status" -eq 1 ]; then echo "(status 1: problems found)"; elif [ "$status" -ne 0 ]; then exit "$status"; fi
}

step "A sample library: 3000 parts in type hierarchies, with revisions, parts in the old byte order and duplicates"
"$lpf" generate Parts --parts 3000 --seed 7

step "A container library: a zip file with two doors of their own type"
door_type="{D0000000-0000-4000-8000-000000000001}-{D0000000-0000-4000-8000-000000000101}"
mkdir -p Doors
"$lpf" create Doors/door-type.lpf --name "Door Type" --unid "$door_type" --template
"$lpf" create Doors/door-single.lpf --name "Door Single" --placeable --ancestor "$door_type" \
  --unid "{D0000000-0000-4000-8000-000000000002}-{D0000000-0000-4000-8000-000000000102}"
"$lpf" create Doors/door-double.lpf --name "Door Double" --placeable --ancestor "$door_type" \
  --unid "{D0000000-0000-4000-8000-000000000003}-{D0000000-0000-4000-8000-000000000103}"
(cd Doors && zip -q -r ../Doors.zip .)
rm -r Doors

step "The project: both libraries"
run add Parts --vital
run add Doors.zip
run list

step "Enumeration (a progress bar on a terminal; Ctrl-C cancels what is not vital)"
run enumerate

step "Searches"
run search --name "door s"
run search --main "{D0000000-0000-4000-8000-000000000002}-{00000000-0000-0000-0000-000000000000}"
run show "Door Single"

step "The type hierarchy: the first lines, the doors, and a picture of two levels"
echo '$ libman tree --depth 2 --sort name | head -n 8'
"$libman" tree --depth 2 --sort name | head -n 8
run tree "Door Type"
run tree --depth 2 --svg hierarchy.svg

step "The configuration in both versions"
run config export project.cfg
run config export --version 105 project-105.cfg
echo "The start of each (201 is binary, 105 the old text form):"
od -A d -c -N 32 project.cfg | head -n 2
od -A d -c -N 32 project-105.cfg | head -n 2

step "Synchronisation with a LAN cache"
# The cache lies outside the demo folder, which holds Doors.zip: a library
# file's cache copy sits beside the others in the cache, so the folder of the
# file and the cache must not lie inside one another.
lan="$build/demo-lan"
rm -rf "$lan"
mkdir -p "$lan"
run cache set --lan "$lan" --use-lan on
run sync
echo '$ libman enumerate > /dev/null 2>&1    # the parts are read from the cache copies now'
"$libman" enumerate >/dev/null 2>&1 || true
# Files saved again on each side, one of them on both: a later time is what
# the synchronisation looks at.
later() { touch -d "@$(( $(date +%s) + $1 ))" "$2"; }
mapfile -t parts < <(cd Parts && find . -name '*.lpf' | LC_ALL=C sort)
first=${parts[0]#./} second=${parts[1]#./} both=${parts[2]#./}
later 60 "Parts/$first"
later 60 "$lan/Parts/$second"
later 60 "Parts/$both"
later 120 "$lan/Parts/$both"
echo "saved again: Parts/$first (library), .../Parts/$second (cache copy), Parts/$both (both)"
run sync --dry-run
run sync --yes
run sync
echo
echo "The sample is in $demo; the picture is $demo/hierarchy.svg"
