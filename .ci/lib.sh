# shellcheck shell=bash
# What every step sources first: the build functions, and a $scratch folder of its own.
# shellcheck source=packaging/lib.sh
. "$(dirname "${BASH_SOURCE[0]}")/../packaging/lib.sh"
step_name=${SCORE_LOOKUP_STEP:-$(basename "$0")}
scratch=$(mktemp -d "${TMPDIR:-/tmp}/score-lookup-$step_name.XXXXXX")
# shellcheck disable=SC2016 # expanded at exit
at_exit 'rm -rf "$scratch"'
# Temporary files of every tool (lintian, wine, reprotest) go there too.
export TMPDIR=$scratch

# Ends a step that cannot run here, which .ci/run counts as skipped, never as passed.
skip() {
  echo "$step_name: skipped: $*" >&2
  exit 77
}

# Runs a preset's workflow from a clean cache: configure, build, the suite.
workflow() {
  cmake --workflow --preset "$1" --fresh
  only_platform_skips "build/$1/Testing/Temporary/LastTest.log"
}

# A folder of the clang preset, whose compile_commands.json the analysers read.
clang_compile_db() {
  cmake --preset clang -B "$scratch/analysis" -DBUILD_TESTING=OFF >&2
  echo "$scratch/analysis"
}

# Fails unless SHIPPED is BUILT, whose symbols name main, stripped as cpack does.
same_code() {
  local strip
  strip=$(sed -n 's/^set(CPACK_SCORE_LOOKUP_STRIP "\(.*\)")$/\1/p' "${2%/*}/CPackConfig.cmake")
  SOURCE_DATE_EPOCH=$(dpkg-parsechangelog -STimestamp) \
    "$strip" --remove-section=.comment --remove-section=.note -o "$scratch/stripped" "$2"
  cmp "$scratch/stripped" "$1" || fail "$1 is not $2, stripped"
}

# Prints the disassembly of the function MAIN in BUILT, with OBJDUMP.
disassembled() {
  "$2" -d --no-show-raw-insn "$1" | awk -v main="<$3>:" '$2 == main, /^$/'
}

# A stack protector that guards main calls __stack_chk_fail from it.
main_has_canary() {
  grep -q '<_*__stack_chk_fail' <<<"$(disassembled "$1" "$2" "${3:-main}")" ||
    fail "${3:-main} in $1 checks no stack canary"
}

# A copy of the runner in DIR, whose steps format, gcc, clang and tidy stand in:
# they fail, are killed, clean up at SIGTERM, and wait.
stand_in_runner() {
  mkdir -p "$1/.ci/steps"
  cp -r .ci/run .ci/lib.sh "$1/.ci/"
  cp -r packaging "$1/"
  # The stand-ins need nothing installed.
  sed -i '/^command_of() {$/i needs=([format]= [gcc]= [clang]= [tidy]=)' "$1/.ci/run"
  for step in format='echo said by format; exit 3' gcc='echo said by gcc; kill -KILL $$' \
    clang='trap "echo cleaned by clang; exit 1" TERM; echo said by clang; sleep 60' tidy='echo said by tidy; sleep 600'; do
    printf '#!/bin/sh\n# stands in for %s\n%s\n' "${step%%=*}" "${step#*=}" >"$1/.ci/steps/${step%%=*}"
    chmod +x "$1/.ci/steps/${step%%=*}"
  done
}
