#!/usr/bin/env bash
# mutate_test.sh SOURCE_DIR: runs scripts/mutate on a small C tree of its own, built with the host's
# compiler and tested without Wine (a stand-in scripts/wine-env), and checks what a wrong verdict or
# a careless restore would hide: each outcome is told apart (killed, timed out, survived, did not
# compile), a text found twice or not at all and an unknown test are refused, a red baseline stops
# the run, the working tree is never written, and the scratch copy has its own text back after
# every mutant, after SIGTERM too, with no mutated object left for the next build.
set -euo pipefail
source_dir=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tree=$work/tree
mkdir -p "$tree/scripts"
cp "$source_dir/scripts/mutate" "$tree/scripts/"
cat >"$tree/scripts/wine-env" <<'EOF'
# The tests of this tree run on the host: nothing to set up.
wine_use_config() { :; }
xvfb_start() { :; }
xvfb_stop() { :; }
wine_prefix_ready() { :; }
wine_server_up() { :; }
wine_server_down() { :; }
EOF
cat >"$tree/CMakePresets.json" <<'EOF'
{
  "version": 3,
  "configurePresets": [{ "name": "win64", "binaryDir": "${sourceDir}/build/win64",
                         "cacheVariables": { "CMAKE_BUILD_TYPE": "Release" } }]
}
EOF
cat >"$tree/CMakeLists.txt" <<'EOF'
cmake_minimum_required(VERSION 3.25)
project(calc C)
enable_testing()
add_executable(calc calc.c)
add_test(NAME calc_test COMMAND calc)
set_tests_properties(calc_test PROPERTIES TIMEOUT 3)
add_test(NAME red_test COMMAND ${CMAKE_COMMAND} -E false)
EOF
cat >"$tree/calc.c" <<'EOF'
static int add(int a, int b) { return a + b; }
int spare(void) { return 1; }
int main(void) {
    volatile int spin = 0;
    while (spin) {
    }
    return add(2, 3) == 5 ? 0 : 1;
}
EOF
echo /build/ >"$tree/.gitignore"
git -C "$tree" init -q
sums() {  # the working tree's files, not its build
  (cd "$tree" && find . -path ./.git -prune -o -path ./build -prune -o -type f -print0 | sort -z |
    xargs -0 sha256sum)
}
before=$(sums)

failed=0
fail() { echo "FAIL: $*"; failed=1; }
expect() {  # status wanted, output, lines that must be in it...
  local want=$1 got=$2 out=$3
  shift 3
  [ "$got" = "$want" ] || fail "exit status $got, not $want"
  for line in "$@"; do
    grep -qE "$line" <<<"$out" || fail "no line matching: $line"
  done
  if [ "$failed" = 1 ]; then
    echo "$out"
    exit 1
  fi
}
run() {  # mutants file text; sets out and status
  printf '%s\n' "$1" >"$work/mutants.txt"
  shift
  status=0
  out=$("$tree/scripts/mutate" "$@" "$work/mutants.txt" 2>&1) || status=$?
}
scratch_is_tree() {
  cmp -s "$tree/calc.c" "$tree/build/mutate/src/calc.c" || fail "the scratch calc.c differs after: $1"
}

# Refused without building: a text found twice, one found nowhere, a file that is not there, and a
# block that breaks the format.
mutants='# twice
file: calc.c
find: return
replace: return -1 +
tests: calc_test

# nowhere
file: calc.c
find: a * b
replace: a / b
tests: calc_test

# no file
file: nothing.c
find: x
replace: y
tests: calc_test'
printf '%s\n' "$mutants" >"$work/mutants.txt"
status=0
out=$("$tree/scripts/mutate" --check "$work/mutants.txt" 2>&1) || status=$?
expect 2 "$status" "$out" '^bad mutant: text found 3 times +.*mutants.txt:2 +twice$' \
  '^bad mutant: text found 0 times .* nowhere$' '^bad mutant: no such file .* no file$'
[ ! -e "$tree/build" ] || fail "--check built something"
run 'file: calc.c
fnd: a + b
replace: a - b
tests: calc_test'
expect 2 "$status" "$out" 'mutants.txt:2: expected one of file:, find:, replace:, tests:'
[ ! -e "$tree/build" ] || fail "a file that breaks the format built something"

# Each outcome, and a test the build does not know refused; the next runs' baselines pass, so no
# mutated object outlived its mutant.
run '# loops for ever
file: calc.c
find: volatile int spin = 0;
replace: volatile int spin = 1;
tests: calc_test

# sums become differences
file: calc.c
find: a + b
replace: a - b
tests: calc_test

# nothing calls it
file: calc.c
find: return 1;
replace: return 2;
tests: calc_test

# a syntax error
file: calc.c
find: int spare(void)
replace: int spare(void
tests: calc_test

# an unknown test
file: calc.c
find: int main
replace: int main
tests: calc_test no_such_test'
expect 2 "$status" "$out" '^timed out +calc.c:4 +loops for ever' \
  '^killed +calc.c:1 +sums become differences' \
  '^survived +calc.c:2 +nothing calls it' '^did not compile +calc.c:2 +a syntax error' \
  '^bad mutant: no test no_such_test .* an unknown test$' \
  '^mutate: 2 killed \(1 timed out\), 1 survived, 1 did not compile of 4; 1 bad mutants left out'
scratch_is_tree "a run of each outcome"

run '# sums become differences
file: calc.c
find: a + b
replace: a - b
tests: calc_test'
expect 0 "$status" "$out" '^killed +calc.c:1 ' '^mutate: 1 killed, 0 survived, 0 did not compile of 1'
run '# nothing calls it
file: calc.c
find: return 1;
replace: return 2;
tests: calc_test'
expect 1 "$status" "$out" '^survived ' '^mutate: 0 killed, 1 survived, 0 did not compile of 1'

# A test that fails without a mutant: nothing is judged.
run '# any
file: calc.c
find: a + b
replace: a - b
tests: red_test calc_test'
expect 2 "$status" "$out" 'without a mutant these tests fail already: red_test'

# SIGTERM while a mutant's test runs: the scratch file has its own text back.
printf '%s\n' '# loops for ever
file: calc.c
find: volatile int spin = 0;
replace: volatile int spin = 1;
tests: calc_test' >"$work/mutants.txt"
"$tree/scripts/mutate" "$work/mutants.txt" >"$work/term.out" 2>&1 &
pid=$!
for _ in $(seq 1 200); do
  grep -q 'mutant 1: built in .*; running' "$work/term.out" && break
  sleep 0.1
done
grep -q 'spin = 1' "$tree/build/mutate/src/calc.c" || fail "no mutant in the scratch copy while its test ran"
kill -TERM "$pid"
status=0
wait "$pid" || status=$?
expect 143 "$status" "$(cat "$work/term.out")" 'stopped by SIGTERM'
scratch_is_tree "SIGTERM"

[ "$before" = "$(sums)" ] || fail "the working tree changed"
[ "$failed" = 0 ] || exit 1
echo "mutate: each outcome told apart, bad mutants and a red baseline refused, the tree untouched"
