#!/usr/bin/env bash
# check_guide_test.sh SOURCE_DIR: runs scripts/check-guide on a small tree of its own (a library of
# a control and a chart, a guide of their tables) and checks that it passes a guide that matches and
# names each difference of the chart's tables. A check that read the chart's rows from the wrong
# section, or took its event for a member, would pass the real guide unnoticed.
set -euo pipefail
source_dir=$1
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
mkdir -p "$tree/scripts" "$tree/control" "$tree/docs"
cp "$source_dir/scripts/check-guide" "$tree/scripts/"

cat >"$tree/control/vandrel.idl" <<'EOF'
    dispinterface _DVandrel
    {
    properties:
        [id(1)] long Interval;
    methods:
        [id(4), helpstring("Start working")] VARIANT_BOOL Start();
    };
    dispinterface _DVandrelEvents
    {
    methods:
        [id(1)] void DataReady(long nCycle);
    };
    dispinterface _DVandrelChart
    {
    methods:
        [id(1), propget] IDispatch* Source();
        [id(1), propputref] void Source([in] IDispatch* oSource);
        [id(11), propput] void Paused(VARIANT_BOOL bPaused);
        [id(12)] void SavePicture(BSTR sPath);
    };
    dispinterface _DVandrelChartEvents
    {
    methods:
        [id(1)] void PausedChanged(VARIANT_BOOL bPaused);
    };
EOF

# guide CHART_MEMBER_ROWS CHART_EVENT_ROWS: the control's sections as they should be, the chart's
# tables as given, and a section after the chart's whose rows belong to no interface.
guide() {
  printf '%s\n' "# Guide" "## Reference" "### Properties" '| 1 | `Interval` | x |' "### Methods" \
    '| 4 | `Start()` | x |' "### Events" '| 1 | `DataReady(nCycle)` | x |' "## The chart" \
    "### The chart's members" "$1" "### The chart's event" "$2" "## Samples" '| 9 | `Other` | x |' \
    >"$tree/docs/user-guide.md"
}
members=$'| 1 | `Source` | x |\n| 11 | `Paused` | x |\n| 12 | `SavePicture(sPath)` | x |'
event='| 1 | `PausedChanged(bPaused)` | x |'

guide "$members" "$event"
if ! out=$("$tree/scripts/check-guide" 2>&1); then
  echo "a guide that matches is refused:"
  echo "$out"
  exit 1
fi

status=0
expect() {  # what expected-line...: check-guide fails with exactly these lines
  local what=$1 out
  shift
  if out=$("$tree/scripts/check-guide" 2>&1); then
    echo "$what: passed"
    status=1
  elif [ "$out" != "$(printf '%s\n' "$@")" ]; then
    echo "$what: said"
    echo "$out"
    status=1
  fi
}

guide "${members/| 11 | \`Paused\` | x |/}" "$event"
expect "a member without a row" "check-guide: _DVandrelChart: Paused (DISPID 11) has no row in the guide"

guide "${members/| 12 |/| 13 |}" "$event"
expect "a member under another DISPID" "check-guide: _DVandrelChart: SavePicture is DISPID 12, the guide gives [13]"

guide "$members"$'\n'"$event" ""
expect "the event among the members" \
  "check-guide: _DVandrelChart: the guide names PausedChanged, which the library does not have" \
  "check-guide: _DVandrelChartEvents: PausedChanged (DISPID 1) has no row in the guide"

guide "$members" "$event"$'\n| 2 | `Resumed` | x |'
expect "an event the library lacks" \
  "check-guide: _DVandrelChartEvents: the guide names Resumed, which the library does not have"

sed -i 's/^## The chart$/### The chart/' "$tree/docs/user-guide.md"
expect "no chart section" "check-guide: the guide has no heading '## The chart'"

exit "$status"
