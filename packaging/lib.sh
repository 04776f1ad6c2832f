# shellcheck shell=bash
# How every published file is built, in clean chroots; sourced by the release and CI.
set -euo pipefail
# A build run as path=$(built_thing) stops the caller when it fails.
shopt -s inherit_errexit
cd "$(dirname "${BASH_SOURCE[0]}")/.."
export DEBIAN_FRONTEND=noninteractive

# Each release's architectures, and a suffix that sorts bookworm's below trixie's.
# shellcheck disable=SC2034 # for the scripts that source this
releases=(bookworm trixie)
declare -A architectures=(
  [bookworm]='amd64 arm64 armel armhf i386 mips64el ppc64el s390x'
  [trixie]='amd64 arm64 armel armhf i386 ppc64el riscv64 s390x')
declare -A suffix=([bookworm]='~deb12u1' [trixie]='~deb13u1')
# shellcheck disable=SC2034 # for the scripts that source this
mapfile -t pairs < <(for release in "${releases[@]}"; do
  for arch in ${architectures[$release]}; do
    echo "$release-$arch"
  done
done)
# The downloads' static programs carry the oldest release's C library.
downloads_release=bookworm
native=$(dpkg --print-architecture)
keyring=/usr/share/keyrings/debian-archive-keyring.gpg

fail() {
  printf '%s: %s\n' "${step_name:-${0##*/}}" "$*" >&2
  exit 1
}

# Undoes, last first, what a shell leaves, however it ends; a subshell, its own.
exit_commands=() exit_owner=$BASHPID
at_exit() {
  [[ $exit_owner == "$BASHPID" ]] || exit_commands=() exit_owner=$BASHPID
  exit_commands=("$1" "${exit_commands[@]}")
  trap run_exit_commands EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
}
run_exit_commands() {
  local status=$? command
  trap '' INT TERM
  for command in "${exit_commands[@]}"; do
    eval "$command" || echo "at exit: $command failed" >&2
  done
  return "$status"
}

# The PACKAGEs that are not installed.
missing() {
  local package
  for package; do
    [[ $(dpkg-query -W -f '${db:Status-Abbrev}' "$package" 2>/dev/null) == ii* ]] || echo "$package"
  done
}
# Fails, naming them, unless every PACKAGE is installed: these scripts change no
# machine, and CI installs what its steps need before they start.
need() {
  local missing
  missing=$(missing "$@" | sort -u | paste -sd' ')
  [[ -z $missing ]] || fail "missing $missing; install with: apt-get install $missing"
}

# Chroots are made in user namespaces, which map the user's ids to subordinate ones.
need_unshare() {
  local user
  user=$(id -un)
  { grep -qs "^$user:" /etc/subuid && grep -qs "^$user:" /etc/subgid; } ||
    fail "$user has no subordinate ids for unshare; add 65536 of them with:" \
      "usermod --add-subuids FIRST-LAST --add-subgids FIRST-LAST $user"
}

# The machine's Debian sources, by codename, as "URI SUITE COMPONENT" for RELEASE.
debian_sources() {
  local own lines
  own=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  # shellcheck disable=SC2016 # apt's own placeholders
  lines=$(apt-get indextargets --format '$(ORIGIN) $(REPO_URI) $(CODENAME) $(COMPONENT)' \
    'Identifier: Packages' | awk -v own="$own" '$1 == "Debian" &&
      ($3 == own || $3 == own "-updates" || $3 == own "-security") { print $2, $3, $4 }')
  [[ -n $lines ]] || fail "apt has read no Debian source for $own here: run apt-get update"
  sort -u <<<"$lines" | sed "s/ $own/ $1/"
}

# A chroot's sources: -security only for one architecture, as mirrors skew them.
chroot_sources() {
  if [[ $2 == *,* ]]; then
    debian_sources "$1" | grep -v -- '-security '
  else
    debian_sources "$1"
  fi | sed "s|^|deb [signed-by=$keyring] |"
}

# The tracked files in a new repository of HEAD: nothing of this one's configuration.
copy_source() {
  git clone -q --no-local --no-checkout --single-branch --no-tags . "$1"
  git -C "$1" remote remove origin
  git ls-files -z | tar --null --files-from=- --create --file=- | tar --extract --directory="$1"
  git -C "$1" reset -q
  chmod -R u+rwX,go=rX "$1"
}

# What a build comes from: the commit, which the source archive names, and the files.
source_key() {
  { git rev-parse HEAD && git ls-files -z | xargs -0r sha256sum; } | sha256sum | cut -d' ' -f1
}
# A run of CI keeps its day, so that no step remakes a chroot under another.
export SCORE_LOOKUP_DAY=${SCORE_LOOKUP_DAY:-$(date +%F)}

# Prints build/NAME/HASH, made for KEY once by COMMAND NEWDIR ARGS..., moved into
# place when whole and never changed after. What is two days old goes.
fresh() {
  local name=$1 dir lock
  dir=build/$1/$(sha256sum <<<"$2" | cut -c1-16)
  shift 2
  mkdir -p "build/$name"
  exec {lock}>>"$dir.lock"
  flock "$lock"
  if [[ ! -d $dir ]]; then
    find "build/$name" -mindepth 1 -maxdepth 1 -mtime +1 ! -name '*.lock' -exec rm -rf {} +
    (
      new=$(mktemp -d "$dir.new.XXXXXX")
      at_exit "rm -rf $(printf %q "$new")"
      "$1" "$new" "${@:2}" >&2
      chmod go+rx "$new"
      mv -T "$new" "$dir"
    )
  fi
  exec {lock}>&-
  echo "$dir"
}

# The tarball FILE of a chroot of RELEASE for ARCHS, made each day with OPTIONS...
chroot_tarball() {
  local dir
  dir=$(fresh chroots "$* $SCORE_LOOKUP_DAY" make_chroot "$@")
  echo "$dir/$1"
}
make_chroot() {
  local dir=$1 file=$2 release=$3 archs=$4
  shift 4
  need_unshare
  chroot_sources "$release" "$archs" >"$dir/sources.list"
  mmdebstrap --mode=unshare --architectures="$native" "$@" "$release" "$dir/$file" "$dir/sources.list"
}

source_package() {
  local dir
  dir=$(fresh source "$(source_key)" make_source_package)
  echo "$dir"/score-lookup_*.dsc
}
make_source_package() {
  local tree
  tree=$1/score-lookup-$(dpkg-parsechangelog --show-field Version)
  copy_source "$tree"
  (cd "$tree" && dpkg-source --build .)
  rm -rf "$tree"
}

# The folder of the .debs of RELEASE for ARCH, with the suite run in the build
# (and, in a cross build, against the installed package); NOCHECK builds without it.
sbuilt() {
  fresh debs "$(source_key) $* $SCORE_LOOKUP_DAY" sbuild_into "$@"
}
sbuild_into() {
  local dir=$1 release=$2 arch=$3 nocheck=${4:-} options=() dsc
  if [[ -n $nocheck ]]; then
    options+=(--profiles="$([[ $arch == "$native" ]] || echo cross,)nocheck")
  elif [[ $arch != "$native" ]]; then
    # Against the installed package too, under the build's emulator, which
    # autopkgtest does for the native builds.
    # shellcheck disable=SC2016 # for the shell in the chroot
    options+=(--profiles=cross --finished-build-commands='cd %SBUILD_PKGBUILD_DIR &&
      dpkg --install ../score-lookup_*_%SBUILD_HOST_ARCH.deb &&
      emulator=$(sed -n "s/^CMAKE_CROSSCOMPILING_EMULATOR:[A-Z]*=//p" obj-*/CMakeCache.txt) &&
      { debian/tests/suite $emulator /usr/bin/score_lookup || test $? = 77; }')
  fi
  # The version's own entry, which sbuild adds, is dated as the release.
  options+=(--append-to-version="${suffix[$release]}" --binNMU-timestamp="$(dpkg-parsechangelog -STimestamp)"
    --maintainer="$(dpkg-parsechangelog -SMaintainer)")
  dsc=$(realpath "$(source_package)")
  # Given even when empty, for sbuild adds nocheck to a cross build where it is not.
  sbuild_in "$dir" "$dsc" "$release" "$arch" "${nocheck:+nocheck}" "${options[@]}"
}

# Builds DSC in DIR with sbuild for RELEASE on ARCH, with DEB_BUILD_OPTIONS and
# OPTIONS...; where the mirror lacks a foreign file, DIR/skipped says so instead.
sbuild_in() {
  local dir=$1 dsc=$2 release=$3 arch=$4 build_options=$5 chroot sources security options=() log missing
  shift 5
  chroot=$(realpath "$(chroot_tarball "$release-buildd.tar" "$release" \
    "${architectures[$release]// /,}" --variant=buildd --include=apt-utils)")
  if [[ $arch == "$native" ]]; then
    options+=(--arch="$arch")
    # The buildd chroot serves every architecture, so reads no -security.
    sources=$(debian_sources "$release")
    security=$(grep -m 1 -- "-security " <<<"$sources") || true
    [[ -z $security ]] || options+=(--extra-repository="deb [signed-by=$keyring] $security")
  else
    options+=(--build="$native" --host="$arch")
  fi
  (cd "$dir" && env -u DEB_BUILD_PROFILES DEB_BUILD_OPTIONS="$build_options" sbuild --chroot-mode=unshare \
    --chroot="$chroot" --dist="$release" --no-run-lintian --no-run-piuparts --no-run-autopkgtest \
    --no-source-only-changes "${options[@]}" "$@" "$dsc" >sbuild.out 2>&1) && return
  log=$(echo "$dir"/*_"$arch".build)
  # Only a foreign architecture may be missing from a mirror.
  if [[ $arch == "$native" ]] || ! missing=$(mirror_lacks "$log"); then
    tail -n 60 "$log" "$dir/sbuild.out"
    fail "sbuild failed for $release on $arch: the end of its log is above"
  fi
  echo "the mirror lacks $missing" >"$dir/skipped"
}

# The file that sbuild's LOG found missing from the mirror, where that alone stopped it.
mirror_lacks() {
  local missing
  grep -qx 'Fail-Stage: install-deps' "$1" &&
    missing=$(grep -o -m 1 -E 'Failed to fetch [^ ]+\.deb  404' "$1") || return 1
  missing=${missing#Failed to fetch }
  missing=${missing%% *}
  missing=${missing##*/}
  printf '%b\n' "${missing//%/\\x}"
}

# The folder of RELEASE-ARCH's .debs, once the whole suite passed in them (and against a cross build's).
checked_debs() {
  local dir log groups
  dir=$(sbuilt "$1" "$2")
  [[ ! -e $dir/skipped ]] || { echo "$dir" && return; }
  log=$(echo "$dir"/score-lookup_*_"$2".build)
  groups=$(python3 tests/lookup.py --list | wc -l)
  grep -x "100% tests passed, 0 tests failed out of $groups" "$log" >&2 ||
    fail "the suite did not pass all $groups case groups inside the build; its log is $log"
  [[ $2 == "$native" ]] || grep -x "score_lookup: [0-9]* passed, 0 failed, [0-9]* skipped" "$log" >&2 ||
    fail "the suite did not pass against the installed package; its log is $log"
  only_platform_skips "$log"
  echo "$dir"
}

# Fails unless each case skipped in the test logs was skipped for a platform limit.
only_platform_skips() {
  python3 tests/lookup.py --check-skips "$@" >&2 || fail "cases skipped for no platform limit in $*"
}

# Wine needs 32-bit x86 programs to run, natively or by an emulator that the
# machine's owner registered (CI registers its own for the run).
i386_runs() {
  arch-test i386 >/dev/null || fail "this machine runs no 32-bit programs, which wine needs:" \
    "apt-get install qemu-user-static binfmt-support (registers qemu-i386 for them)"
}

# The folder of what packaging/downloads builds, and CHECKS then checks, in a chroot.
built_downloads() {
  fresh downloads "$(source_key) $1 $SCORE_LOOKUP_DAY" make_downloads "$1"
}
make_downloads() {
  local packages=(
    build-essential cmake git python3 python3-pyte zip unzip file
    g++-aarch64-linux-gnu libc6-dev:arm64 qemu-user # the aarch64 tarball
    g++-mingw-w64-i686-win32 wine wine32:i386        # the zip
    checksec reprotest faketime diffoscope-minimal   # CI's checks
  )
  # Each of the downloads is an x86 build or an x86 emulation.
  [[ $native == amd64 ]] || fail "the downloads are built on amd64, not $native"
  i386_runs
  # The tree is root's, as git in the chroot wants.
  # shellcheck disable=SC2016 # the hooks' $1 is the chroot
  in_chroot "$downloads_release" "$native,arm64,i386" "$(IFS=, && echo "${packages[*]}")" -- \
    'chown -R 0:0 "$1/src"' \
    'arch-test -c "$1" i386' \
    'chroot "$1" /src/packaging/downloads /srv/out' \
    'chroot "$1" /src/'"$2"' /srv/out' \
    "sync-out /srv/out $(printf %q "$(realpath "$1")")"
}

# in_chroot RELEASE ARCHS PACKAGES [FILE]... -- HOOK... runs mmdebstrap's hooks
# in a new chroot of that day's tarball, the tracked files in /src and the FILEs
# in /srv, copied in by mmdebstrap, whose user namespace maps none of the caller's.
in_chroot() {
  local release=$1 archs=$2 include=$3 base stage hooks=()
  shift 3
  base=$(realpath "$(chroot_tarball "$release.tar" "$release" "$archs" --variant=apt --architectures="$archs" \
    ${include:+--include="$include"})")
  stage=$(mktemp -d)
  at_exit "rm -rf $(printf %q "$stage")"
  copy_source "$stage/src"
  mkdir "$stage/srv"
  while [[ $1 != -- ]]; do
    cp -a "$1" "$stage/srv/"
    shift
  done
  shift
  for hook; do
    hooks+=(--customize-hook="$hook")
  done
  chroot_sources "$release" "$archs" >"$stage/sources.list"
  # Uploaded, for its namespace may reach no folder of the caller's; its device
  # files, which no namespace may make, come anew.
  mmdebstrap --mode=unshare --variant=custom --skip=update --architectures="$archs" \
    --setup-hook="upload $(printf %q "$base") /base.tar" \
    --setup-hook="mmtarfilter --path-exclude='/dev/*' <\"\$1/base.tar\" | tar -C \"\$1\" -x && rm \"\$1/base.tar\"" \
    --customize-hook="copy-in $(printf %q "$stage/src") /" \
    --customize-hook="sync-in $(printf %q "$stage/srv") /srv" "${hooks[@]}" \
    "$release" /dev/null "$stage/sources.list"
}

# trixie's lintian shows no tag of any class on the source and the .changes in DIR...
lintian_clean() {
  local dsc
  dsc=$(source_package)
  # shellcheck disable=SC2016 # the hook's $1 is the chroot
  in_chroot trixie "$native" lintian "${dsc%/*}" "$@" -- \
    'chroot "$1" runuser -u nobody -- sh -c "lintian --version && lintian -I --pedantic --display-experimental \
      --fail-on error,warning,info,pedantic,experimental /srv/*/*.changes /srv/*/*.dsc"'
}
