#!/usr/bin/env bash
# Checks that an installed shared library exports what its installed headers
# declare as exported: every class or struct marked LM_API and every
# explicit instantiation declared `extern template class LM_API`. An
# instantiation must export its members, and for every class each vtable
# and typeinfo that the library defines must be exported too (a program
# that derives from the class or uses it polymorphically needs them).
#
#   check-symbols.sh <libLibraryManager.so> <include folder of the package>
set -euo pipefail
lib=$1
include=$2

all=$(nm -C --defined-only "$lib")
exported=$(nm -DC --defined-only "$lib")
failed=0

fail() {
  echo "check-symbols: $*" >&2
  failed=1
}

# Names as nm prints them: "LM::LibrarySet", "KR::Paths<KR::UnID, Cmp_UnIDs>".
# A name takes the namespace opened last above it (one-line forward
# declarations such as "namespace IO { class Location; }" do not count).
names=$(
  for header in "$include"/*.hpp "$include"/*/*.hpp; do
    [ -f "$header" ] || continue
    awk '
      function ns() { return depth > 0 ? stack[depth] "::" : "" }
      /^namespace [A-Za-z_][A-Za-z0-9_]* \{ *$/ { stack[depth + 1] = (depth > 0 ? stack[depth] "::" : "") $2; depth++ }
      /^}  \/\/ namespace/ { if (depth > 0) depth-- }
      match($0, /^(class|struct) LM_API [A-Za-z_][A-Za-z0-9_]*/) {
        split(substr($0, 1, RLENGTH), w, " "); print ns() w[3]
      }
      match($0, /^extern template class LM_API .*;/) {
        t = substr($0, 30, RLENGTH - 30); sub(/<UnID,/, "<KR::UnID,", t)
        print "instance " ns() t
      }' "$header"
  done | sort -u
)
[ -n "$names" ] || { fail "no exported classes found under $include"; exit 1; }

while read -r name; do
  # An explicit instantiation has out-of-line members, which must be
  # exported. Other classes may consist of inline members only, which
  # every program compiles for itself.
  if [[ $name == "instance "* ]]; then
    name=${name#instance }
    if ! grep -qF " $name::" <<<"$exported"; then
      fail "$name: no member is exported"
    fi
  fi
  for kind in "vtable for" "typeinfo for" "typeinfo name for"; do
    if grep -qxF "$kind $name" <<<"$(cut -d' ' -f3- <<<"$all")" &&
       ! grep -qxF "$kind $name" <<<"$(cut -d' ' -f3- <<<"$exported")"; then
      fail "$name: $kind is defined but not exported"
    fi
  done
done <<<"$names"

if ((failed)); then exit 1; fi
echo "check-symbols: $(wc -l <<<"$names") exported classes checked in $(basename "$lib")"
