#!/usr/bin/env bash
# The built-in sample: a synthetic library of part files, written by the lpf
# tool and read back through the module's part file library with its
# ancestry section handler. Argument: the build folder.
#
# The library manager's own command-line tool (enumeration, search, type
# hierarchy) is not yet available; this shows what exists so far.
set -euo pipefail
build=${1:?usage: demo.sh BUILD_FOLDER}
lpf="$build/apps/lpf/lpf"
sample=$(mktemp -d /tmp/lm-demo.XXXXXX)
trap 'rm -rf "$sample"' EXIT

echo "== A sample library of 300 part files (seed 7)"
"$lpf" generate "$sample/Library" --parts 300 --seed 7

echo
echo "== Its first folders"
(cd "$sample/Library" && find . -maxdepth 2 -type d | sort | head -n 6)

part=$(cd "$sample/Library" && find . -name '*.lpf' -print | sort | sed -n 40p)
echo
echo "== One part with its declared ancestry: $part"
"$lpf" dump "$sample/Library/$part"

echo
echo "== A part written by hand, in the other byte order, read back"
"$lpf" create "$sample/Door.lpf" --name "Door" \
  --unid "{6F1A2B3C-0001-4000-8000-00000000D001}-{6F1A2B3C-0001-4000-8000-000000000001}" \
  --ancestor "{0B1EC700-0000-4000-8000-000000000001}-{0B1EC700-0000-4000-8000-000000000002}" \
  --placeable --param width=0.9 --param height=2.1 --other-byte-order
"$lpf" dump "$sample/Door.lpf"
echo
echo "(The library manager's command-line tool is not yet available.)"
