# shellcheck shell=bash
# What every CI step shares. A step is a script in .ci/steps/ that sources
# this file first:
#
#   . "$(dirname "$0")/../lib.sh"
#
# It then runs from the top of the tree with strict error handling, a
# scratch folder of its own ($scratch, also TMPDIR) that goes when it ends,
# and the functions below. What it builds goes into build/, where the next
# step that needs it finds it.
set -euo pipefail
# A build run as path=$(built_deb) stops the step when it fails, as if it
# were run alone.
shopt -s inherit_errexit
cd "$(dirname "${BASH_SOURCE[0]}")/.."
export DEBIAN_FRONTEND=noninteractive
step_name=$(basename "$0")

fail() {
  printf '%s: %s\n' "$step_name" "$*" >&2
  exit 1
}

# Whatever a step leaves behind is undone when it ends, however it ends: the
# commands given to at_exit run last first.
exit_commands=()
at_exit() { exit_commands=("$1" "${exit_commands[@]}"); }
run_exit_commands() {
  local status=$? command
  for command in "${exit_commands[@]}"; do
    eval "$command" || true
  done
  ((status == 0)) || printf '\n%s failed; run it alone with: bash .ci/run %s\n' \
    "$step_name" "$step_name" >&2
}
trap run_exit_commands EXIT
scratch=$(mktemp -d "${TMPDIR:-/tmp}/score-lookup-$step_name.XXXXXX")
# shellcheck disable=SC2016 # expanded at exit
at_exit 'rm -rf "$scratch"'
# Temporary files of every tool (lintian, wine, reprotest) go there too.
export TMPDIR=$scratch

# apt-get update, once in a whole run of .ci/run. A mirror in mid-sync may
# fail one index that the install does not need: go on, and let the install
# decide. Like need, it says what it does on standard error, so that a
# function whose output is a path may call it.
apt_update() {
  local stamp=${SCORE_LOOKUP_CI_RUN:-$scratch}/apt-updated
  [[ ! -e $stamp ]] || return 0
  apt-get update -qq >&2 || echo "apt-get update failed on some index; going on" >&2
  touch "$stamp"
}

# apt-get, waiting for another apt to finish rather than failing at once.
apt_get() { apt-get -o DPkg::Lock::Timeout=600 "$@"; }

# Installs the packages whose marker file is missing, given as FILE=PACKAGE.
need() {
  local wanted=() pair
  for pair in "$@"; do
    [[ -e ${pair%%=*} ]] || wanted+=("${pair#*=}")
  done
  ((${#wanted[@]})) || return 0
  apt_update
  local install=(apt_get install -y -qq --no-install-recommends) release
  if ! "${install[@]}" --simulate "${wanted[@]}" >/dev/null 2>&1; then
    # A foreign architecture's package must match its native twin's version,
    # which its security index, broken on the mirror, may lack: take both
    # from the release's own suite, where every architecture agrees.
    # shellcheck source=/dev/null # the machine's own, not ours to check
    release=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
    echo "apt cannot install ${wanted[*]} as they are: taking them from $release" >&2
    install+=(-t "$release")
  fi
  "${install[@]}" "${wanted[@]}" >&2
}

# Shows the cases that the last test run in a build folder skipped, and fails
# unless each was skipped for a platform limit that tests/lookup.py names.
only_platform_skips() {
  local log=$1/Testing/Temporary/LastTest.log skips
  [[ -e $log ]] || fail "no test log in $1"
  skips=$(grep -E '^[a-z_]+: skipped: ' "$log" || true)
  [[ -z $skips ]] && return 0
  if grep -v ': skipped: platform limit: ' <<<"$skips"; then
    fail "cases skipped in $1 for a reason that is no platform limit"
  fi
}

# Configures a build folder whose cases run the given program, and runs them.
test_program() {
  local dir=$1 program=$2
  shift 2
  cmake -S . -B "$dir" --fresh "$@" -DSCORE_LOOKUP_TEST_PROGRAM="$program" >/dev/null
  ctest --test-dir "$dir" --output-on-failure --no-tests=error -j 2
  only_platform_skips "$dir"
}

# The tracked files as they are, with the repository that lists them.
copy_source() {
  mkdir -p "$1"
  git ls-files -z | tar --null --files-from=- --create --file=- | tar --extract --directory="$1"
  cp -a .git "$1/"
}

# A fingerprint of the tracked files as they are now: a build stamped with
# it is reused until one of them changes.
source_key() {
  git ls-files -z | xargs -0 sha256sum | sha256sum | cut -d' ' -f1
}
# A second argument names what else the build depends on.
is_current() { [[ -e $1 && $(cat "$1") == "$(source_key) ${2:-}" ]]; }
stamp() { echo "$(source_key) ${2:-}" >"$1"; }

# The version of glibc that the static programs link: this machine's
# libc6-dev, upgraded first, once in a run, to the archive's, whose source
# package the archive keeps only while it is current.
libc_version() {
  local upgraded=${SCORE_LOOKUP_CI_RUN:-$scratch}/libc-upgraded
  if [[ ! -e $upgraded ]]; then
    apt_update
    apt_get install -y -qq --no-install-recommends --only-upgrade libc6-dev >&2
    touch "$upgraded"
  fi
  dpkg-query --show --showformat='${source:Version}' "libc6-dev:$(dpkg --print-architecture)"
}

# Collects a static preset's corresponding source, and prints the .dsc of
# glibc at VERSION in it, checked against the files that it lists.
libc_source_of() {
  local preset=$1 version=$2 dsc
  need /usr/bin/dscverify=devscripts
  .ci/with-deb-src cmake --build --preset "$preset" --target corresponding-source >&2
  dsc=build/$preset/corresponding-source/glibc_${version#*:}.dsc
  [[ $(grep -m 1 '^Version: ' "$dsc") == "Version: $version" ]] ||
    fail "$dsc is not glibc $version"
  dscverify --no-sig-check "$dsc" >&2 # apt checked the signed index it came from
  echo "$dsc"
}

# build/analysis, a clang preset's folder configured for the tracked files
# as they are, whose compile_commands.json the analysers read.
clang_compile_db() {
  local dir=build/analysis
  if ! is_current $dir/ci-key; then
    need /usr/bin/cmake=cmake /usr/bin/clang++=clang /usr/bin/make=make
    cmake --preset clang -B $dir --fresh -DBUILD_TESTING=OFF >&2
    stamp $dir/ci-key
  fi
  echo $dir
}

# Fails unless SHIPPED, as its package stripped it, holds BUILT's code and
# data, section by section (.rodata on ELF, .rdata on PE): what is checked
# in the unstripped build, whose symbols name main, is what users get.
same_code() {
  local shipped=$1 built=$2 objcopy=$3 section
  for section in .text .rodata .rdata .data; do
    "$objcopy" -O binary --only-section="$section" "$built" "$scratch/built$section"
    "$objcopy" -O binary --only-section="$section" "$shipped" "$scratch/shipped$section"
    cmp -s "$scratch/shipped$section" "$scratch/built$section" ||
      fail "$shipped differs from $built in $section"
  done
  [[ -s $scratch/built.text && ( -s $scratch/built.rodata || -s $scratch/built.rdata ) ]] ||
    fail "$built has no code or no constant data to compare"
}

# Fails unless checksec finds each protection of a hardened ELF program in
# PROGRAM. In a static one (second argument "static") it finds the canary
# only through symbols, which stripping removes, and the C library in it
# always has one: main_has_canary looks in main instead.
checksec_hardened() {
  local program=$1 fields=1-6 got
  local expected='Full RELRO,Canary found,NX enabled,PIE enabled,No RPATH,No RUNPATH'
  if [[ ${2:-} == static ]]; then
    fields=1,3-6
    expected='Full RELRO,NX enabled,PIE enabled,No RPATH,No RUNPATH'
  fi
  got=$(checksec --format=csv --file="$program" | cut -d, -f"$fields")
  echo "$got"
  [[ $got == "$expected" ]] || fail "$program lacks a protection: $got"
}

# Prints the disassembly of the function MAIN (main, or _main on 32-bit
# Windows) in the unstripped BUILT, with the target's OBJDUMP.
disassembled() {
  local built=$1 objdump=$2 main=$3
  "$objdump" -d --no-show-raw-insn "$built" | awk -v main="<$main>:" '$2 == main, /^$/'
}

# A stack protector that guards main calls __stack_chk_fail from it, on every
# architecture; the unstripped build names both.
main_has_canary() {
  local built=$1 objdump=$2 main=${3:-main}
  grep -q '<_*__stack_chk_fail' <<<"$(disassembled "$built" "$objdump" "$main")" ||
    fail "$main in $built checks no stack canary"
}

# The packages, built once for the tracked files as they are and reused by
# every step after that; each function prints what it built. A build that
# the steps test is never tested here: the steps that test the shipped
# programs do.

# build/debian/score-lookup_*.deb, by dpkg-buildpackage with the suite inside,
# with the source package beside it.
built_deb() {
  local dir=build/debian
  if ! is_current $dir/key; then
    need /usr/bin/dpkg-buildpackage=dpkg-dev /usr/bin/git=git
    dpkg-checkbuilddeps 2>/dev/null || { apt_update && apt_get build-dep -y -qq ./ >&2; }
    rm -rf $dir
    copy_source $dir/score-lookup
    (cd $dir/score-lookup && dpkg-buildpackage -us -uc) >&2
    only_platform_skips "$(echo $dir/score-lookup/obj-*)" >&2
    stamp $dir/key
  fi
  echo $dir/score-lookup_*_"$(dpkg --print-architecture)".deb
}

# Configures, builds and packs a preset with cpack, without its tests; a
# second argument is as is_current's.
built_preset() {
  local preset=$1 dir=build/$1 depends=${2:-}
  if ! is_current "$dir/ci-key" "$depends"; then
    rm -f "$dir/ci-key" "$dir"/score_lookup-*.tar.gz "$dir"/score_lookup-*.zip
    {
      cmake --preset "$preset" --fresh -DBUILD_TESTING=OFF >/dev/null
      cmake --build --preset "$preset"
      cpack --preset "$preset"
    } >&2
    stamp "$dir/ci-key" "$depends"
  fi
}

# build/release/score_lookup-*-linux-x86_64.tar.gz, the static-pie.
built_tarball() {
  need /usr/bin/cmake=cmake /usr/bin/g++=g++ /usr/bin/dpkg-query=dpkg
  local libc
  libc=$(libc_version)
  built_preset release "glibc $libc"
  echo build/release/score_lookup-*-linux-*.tar.gz
}

# build/windows-x86/score_lookup-*-win32.zip, the 32-bit Windows program.
built_zip() {
  need /usr/bin/cmake=cmake /usr/bin/zip=zip /usr/bin/i686-w64-mingw32-g++=g++-mingw-w64-i686
  built_preset windows-x86
  echo build/windows-x86/score_lookup-*-win32.zip
}

# Wine, whose 32-bit loader needs the i386 architecture, and qemu where the
# kernel runs no 32-bit programs.
need_wine() {
  if [[ ! -e /usr/lib/wine/wine || ! -e /usr/lib/wine/wine64 ]]; then
    dpkg --add-architecture i386
    rm -f "${SCORE_LOOKUP_CI_RUN:-$scratch}/apt-updated"
  fi
  need /usr/lib/wine/wine=wine32:i386 /usr/lib/wine/wine64=wine64 /usr/bin/wine=wine
  .ci/i386-via-qemu
}

# What reprotest varies: all but the user, the domain and host name, and the
# kernel, and the file order only where FUSE is there for disorderfs.
reprotest_variations() {
  local variations=-user_group,-domain_host,-kernel
  if ! { [[ -c /dev/fuse ]] && command -v fusermount >/dev/null; }; then
    echo "No FUSE here: the file order is not varied (disorderfs needs it)." >&2
    variations+=,-fileordering
  fi
  echo "$variations"
}

# The tarball, its source archive and the zip, and how to build them alone.
# shellcheck disable=SC2034 # for the steps that source this
package_patterns="build/release/score_lookup-*-linux-*.tar.gz build/windows-x86/score_lookup-*-win32.zip build/release/corresponding-source/score_lookup-*.tar.gz"
# shellcheck disable=SC2016,SC2034 # expanded by the shell that builds
build_packages='for preset in release windows-x86; do
  cmake --preset $preset -DBUILD_TESTING=OFF >/dev/null &&
  cmake --build --preset $preset >/dev/null && cpack --preset $preset >/dev/null
done && cmake --build --preset release --target source-archive >/dev/null'
