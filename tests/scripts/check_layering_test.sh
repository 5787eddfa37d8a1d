#!/usr/bin/env bash
# check_layering_test.sh SOURCE_DIR: runs scripts/check-layering on a small tree of its own (no git
# there, so the script finds the files itself) and checks that it refuses what each rule forbids,
# naming each file, and passes what the rules allow. A rule that lets a forbidden include through
# (activex/ reaching engine/, bench/ reaching tests/support/, a client reaching the control, a
# sample reaching anything of ours) or a folder that no rule names would pass the real tree
# unnoticed.
set -euo pipefail
source_dir=$1
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
mkdir -p "$tree/scripts"
cp "$source_dir/scripts/check-layering" "$tree/scripts/"

put() {  # path lines...
  mkdir -p "$(dirname "$tree/$1")"
  local file=$1
  shift
  printf '%s\n' "$@" >"$tree/$file"
}

# Allowed: each is within its folder's rule.
put base/text.h '#include <windows.h>'
put control/resource.h ''
put control/ctrl.cpp '#include "base/text.h"' '#include "engine/x.h"' '#include "activex/x.h"' \
  '#include "vandrel_h.h"' '#include "resource.h"' '#include <sys/types.h>'
put bench/b.cpp '#include "harness/x.h"' '#include "client/vandrel_ids.h"' '#include "engine/x.h"'
put tools/monitor/m.cpp '#include "client/vandrel_ids.h"' '#include "base/text.h"'
put tests/control/t.cpp '#include "control/ctrl.h"' '#include "harness/x.h"' '#include "tests/support/s.h"'
put package/p.cpp '#include "control/identity.h"'
if ! out=$("$tree/scripts/check-layering" 2>&1); then
  echo "an allowed tree is refused:"
  echo "$out"
  exit 1
fi

# Refused: one line each.
put activex/a.h '#include "engine/channel_sampler.h"'
put engine/e.h '#include "activex/dispatch.h"'
put bench/soak/s.cpp '  #  include "tests/support/sim_helpers.h"'
put tools/t.cpp '#include "vandrel_h.h"'
put testtool/h.cpp '#include <control/identity.h>'
put samples/cpp/r.cpp '#include "base/text.h"'
put tests/support/u.h '#include "tests/control/vandrel_ocx.h"'
put tests/x.cpp '#include "bench/bench.h"' '#include "nowhere.h"'
put newfolder/n.cpp '#include "base/text.h"'
status=0
out=$("$tree/scripts/check-layering" 2>&1) || status=$?
expected=(
  "activex/a.h:1 includes engine/channel_sampler.h"
  "engine/e.h:1 includes activex/dispatch.h"
  "bench/soak/s.cpp:1 includes tests/support/sim_helpers.h"
  "tools/t.cpp:1 includes vandrel_h.h (control/)"
  "testtool/h.cpp:1 includes control/identity.h"
  "samples/cpp/r.cpp:1 includes base/text.h"
  "tests/support/u.h:1 includes tests/control/vandrel_ocx.h"
  "tests/x.cpp:1 includes bench/bench.h"
  "tests/x.cpp:2 includes nowhere.h"
  "newfolder/n.cpp: its folder newfolder has no rule"
)
failed=0
[ "$status" = 1 ] || { echo "exit status $status, not 1"; failed=1; }
for line in "${expected[@]}"; do
  grep -qF "FAIL: $line" <<<"$out" || { echo "not refused: $line"; failed=1; }
done
count=$(grep -c '^FAIL: ' <<<"$out" || true)
[ "$count" = "${#expected[@]}" ] || { echo "$count refusals, not ${#expected[@]}"; failed=1; }
if [ "$failed" = 1 ]; then
  echo "$out"
  exit 1
fi
echo "layering rules: the allowed tree passes, each of ${#expected[@]} forbidden includes refused"
