# shellcheck shell=bash
# How every published file is built: in clean chroots that mmdebstrap makes
# from this machine's own Debian sources, as the archive builds. Sourced by
# packaging/release and by CI. What it builds goes into build/, stamped with
# the tracked files that it came from, and is reused until one changes.
set -euo pipefail
# A build run as path=$(built_thing) stops the caller when it fails.
shopt -s inherit_errexit
cd "$(dirname "${BASH_SOURCE[0]}")/.."
export DEBIAN_FRONTEND=noninteractive

# The .debs: each release on each of its architectures, and the suffix that
# gives each release's build a version of its own, so that one repository
# holds both, bookworm's sorts below trixie's, and both below the next
# upstream version.
# shellcheck disable=SC2034 # for the scripts that source this
releases=(bookworm trixie)
declare -A architectures=(
  [bookworm]='amd64 arm64 armel armhf i386 mips64el ppc64el s390x'
  [trixie]='amd64 arm64 armel armhf i386 ppc64el riscv64 s390x')
declare -A suffix=([bookworm]='~deb12u1' [trixie]='~deb13u1')
# The downloads are built on the oldest release, whose C library is the
# oldest that their static programs carry.
downloads_release=bookworm
native=$(dpkg --print-architecture)
keyring=/usr/share/keyrings/debian-archive-keyring.gpg

fail() {
  printf '%s: %s\n' "${step_name:-${0##*/}}" "$*" >&2
  exit 1
}

# Whatever the caller leaves behind is undone when it ends, however it ends:
# the commands given to at_exit run last first, and see its $status.
exit_commands=()
at_exit() { exit_commands=("$1" "${exit_commands[@]}"); }
run_exit_commands() {
  local status=$? command
  for command in "${exit_commands[@]}"; do
    eval "$command" || true
  done
  return "$status"
}
trap run_exit_commands EXIT

# Makes sure of the packages whose marker file is missing, given as
# FILE=PACKAGE. Only a CI machine (CI=true) is changed, and only by adding
# packages; anywhere else this stops and says what to install. Where the
# machine is older than the archive, apt may have to upgrade what a new
# package depends on (uidmap needs its own passwd): it says so, and nothing
# is removed, nor is the C library changed.
need() {
  local wanted=() pair plan upgrades lock
  for pair in "$@"; do
    [[ -e ${pair%%=*} || " ${wanted[*]} " == *" ${pair#*=} "* ]] || wanted+=("${pair#*=}")
  done
  ((${#wanted[@]})) || return 0
  [[ ${CI:-} == true ]] || fail "missing ${wanted[*]}; install with: apt-get install ${wanted[*]}"
  apt_update
  exec {lock}>"${SCORE_LOOKUP_CI_RUN:-${TMPDIR:-/tmp}}/apt.lock" # one apt at a time
  flock "$lock"
  plan=$(apt-get install -s --no-install-recommends "${wanted[@]}") || fail "apt cannot install ${wanted[*]}"
  if grep -E '^(Remv|Inst libc6(:[a-z0-9]+)? \[)' <<<"$plan" >&2; then
    fail "installing ${wanted[*]} would remove, or change the C library, as above"
  fi
  upgrades=$(awk '$1 == "Inst" && $3 ~ /^\[/ { print $2 }' <<<"$plan" | paste -sd' ')
  [[ -z $upgrades ]] || echo "To install ${wanted[*]}, apt upgrades what they need: $upgrades" >&2
  apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${wanted[@]}" >&2
  exec {lock}>&-
}

# apt-get update, once in a run of CI. A mirror in mid-sync may fail an
# index that the install does not need: the install decides.
apt_update() {
  local lock
  exec {lock}>"${SCORE_LOOKUP_CI_RUN:-${TMPDIR:-/tmp}}/apt.lock"
  flock "$lock"
  if [[ ! -e ${SCORE_LOOKUP_CI_RUN:-/nonexistent}/apt-updated ]]; then
    apt-get update -qq >&2 || echo "apt-get update failed for some index; going on" >&2
    [[ -z ${SCORE_LOOKUP_CI_RUN:-} ]] || touch "$SCORE_LOOKUP_CI_RUN/apt-updated"
  fi
  exec {lock}>&-
}

# mmdebstrap, sbuild and autopkgtest make their chroots in user namespaces,
# where the user's ids are mapped to subordinate ones.
need_subordinate_ids() {
  need /usr/bin/newuidmap=uidmap
  local user first
  user=$(id -un)
  grep -qs "^$user:" /etc/subuid && grep -qs "^$user:" /etc/subgid && return 0
  # From 100000, or past every range that other users have.
  first=$(cat /etc/subuid /etc/subgid 2>/dev/null |
    awk -F: 'BEGIN { end = 100000 } $2 + $3 > end { end = $2 + $3 } END { print end }')
  local ids="$first-$((first + 65535))"
  [[ ${CI:-} == true ]] || fail "$user has no subordinate ids for unshare; add them with:" \
    "usermod --add-subuids $ids --add-subgids $ids $user"
  echo "Giving $user the subordinate ids $ids, which user namespaces need." >&2
  usermod --add-subuids "$ids" --add-subgids "$ids" "$user"
}

# The machine's own Debian sources for its release, as apt read them at its
# last update, renamed for RELEASE: "URI SUITE COMPONENT" a line, for the
# release, its -updates and its -security.
debian_sources() {
  local own lines
  own=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  # A CI machine may come with no lists.
  [[ ${CI:-} != true || -n $(apt-get indextargets) ]] || apt_update
  # shellcheck disable=SC2016 # apt's own placeholders
  lines=$(apt-get indextargets --format '$(ORIGIN) $(REPO_URI) $(RELEASE) $(COMPONENT)' \
    'Identifier: Packages' | awk -v own="$own" '$1 == "Debian" &&
      ($3 == own || $3 == own "-updates" || $3 == own "-security") { print $2, $3, $4 }')
  [[ -n $lines ]] || fail "apt has read no Debian source for $own here: run apt-get update"
  sort -u <<<"$lines" | sed "s/ $own/ $1/"
}

# Whether apt, in a configuration of its own, fetches the lists of SOURCES
# (deb lines) for every architecture of ARCHS (comma-separated), and could
# install PACKAGES... from them into an empty system.
apt_serves() {
  local sources=$1 archs=$2 dir status=0 apt
  shift 2
  dir=$(mktemp -d)
  mkdir -p "$dir/lists/partial" "$dir/cache" "$dir/parts"
  echo "$sources" >"$dir/sources.list"
  apt=(-o Dir::Etc::SourceList="$dir/sources.list" -o Dir::Etc::SourceParts="$dir/parts"
    -o Dir::State::Lists="$dir/lists" -o Dir::Cache="$dir/cache" -o Dir::State::Status=/dev/null
    -o APT::Architectures="$archs" -o APT::Sandbox::User="$(id -un)" -o Debug::NoLocking=1)
  apt-get update -qq "${apt[@]}" >"$dir/log" 2>&1 || status=$?
  if ((status == 0 && $# > 0)); then
    apt-get install -s -qq --no-install-recommends "${apt[@]}" "$@" >"$dir/log" 2>&1 || status=$?
  fi
  rm -rf "$dir"
  return $status
}

# The sources of a chroot of RELEASE for ARCHS (comma-separated) that is to
# hold PACKAGES...: the release, and its -updates and -security where apt
# fetches their lists for ARCHS and can install PACKAGES with them. On a
# mirror, -security's packages of one architecture may lag their twins of
# another, which Multi-Arch: same packages cannot do: a chroot of several
# architectures whose packages are not known beforehand (sbuild's) leaves it
# out. The log says what is left out.
chroot_sources() {
  local release=$1 archs=$2 sources chosen line suite
  shift 2
  sources=$(debian_sources "$release")
  chosen=$(grep " $release " <<<"$sources" | sed "s|^|deb [signed-by=$keyring] |") ||
    fail "apt has read no source of $release itself here"
  while read -r line; do
    suite=$(cut -d' ' -f2 <<<"$line")
    if [[ $suite == "$release" ]]; then
      continue
    elif [[ $suite == *-security && $archs == *,* && $# == 0 ]]; then
      echo "The $release chroot for $archs reads $release and $release-updates alone:" \
        "$suite keeps no foreign architecture in step." >&2
    elif apt_serves "$chosen"$'\n'"deb [signed-by=$keyring] $line" "$archs" "$@"; then
      chosen+=$'\n'"deb [signed-by=$keyring] $line"
    else
      echo "The $release chroot for $archs leaves out $suite: apt fetched no lists of it here," \
        "or could not install the chroot's packages with it." >&2
    fi
  done <<<"$sources"
  echo "$chosen"
}

# The tracked files as they are, with the repository that lists them, with
# the modes that a umask of 022 gives.
copy_source() {
  mkdir -p "$1"
  git ls-files -z | tar --null --files-from=- --create --file=- | tar --extract --directory="$1"
  cp -a .git "$1/"
  chmod -R u+rwX,go=rX "$1"
}

# A fingerprint of what a build comes from: the commit (which the source
# archive names) and the tracked files as they are now.
source_key() {
  { git rev-parse HEAD && git ls-files -z | xargs -0r sha256sum; } | sha256sum | cut -d' ' -f1
}

# Runs COMMAND... to fill the new folder DIR, unless DIR holds what it made
# for KEY; another caller waits for the first, then takes what it made.
fresh() {
  local dir=$1 key=$2 lock
  shift 2
  mkdir -p "${dir%/*}"
  exec {lock}>"$dir.lock"
  flock "$lock"
  if [[ ! -e $dir/.key || $(<"$dir/.key") != "$key" ]]; then
    rm -rf "$dir"
    mkdir -p "$dir"
    "$@"
    echo "$key" >"$dir/.key"
  fi
  exec {lock}>&-
}

# build/chroots/NAME/FILE: a chroot of RELEASE for this machine's
# architecture, whose sources serve ARCHS (comma-separated), that mmdebstrap
# makes with OPTIONS..., as a tarball (.tar, or .tar.gz for piuparts); made
# again after a day, when the archive has moved on.
chroot_tarball() {
  local file=$1 release=$2 archs=$3 dir=build/chroots/${1%%.*}
  shift 3
  # A run of CI keeps its day, so that no step remakes a chroot under another.
  fresh "$dir" "$release $archs $* ${SCORE_LOOKUP_DAY:-$(date +%F)}" \
    make_chroot "$dir/$file" "$release" "$archs" "$@"
  echo "$dir/$file"
}
make_chroot() {
  local file=$1 release=$2 archs=$3
  shift 3
  need /usr/bin/mmdebstrap=mmdebstrap
  need_subordinate_ids
  chroot_sources "$release" "$archs" >"${file%/*}/sources.list"
  mmdebstrap --mode=unshare --architectures="$native" "$@" \
    "$release" "$file" "${file%/*}/sources.list" >&2
}

# build/source/: the Debian source package of the tracked files; prints its
# .dsc.
source_package() {
  local key
  key=$(source_key)
  fresh build/source "$key" make_source_package
  echo build/source/score-lookup_*.dsc
}
make_source_package() {
  need /usr/bin/dpkg-source=dpkg-dev /usr/bin/git=git
  local tree
  tree=build/source/score-lookup-$(dpkg-parsechangelog --show-field Version)
  copy_source "$tree"
  (cd "$tree" && dpkg-source --build .) >&2
  rm -rf "$tree"
}

# build/debs/RELEASE-ARCH/: the .debs for ARCH that sbuild builds in a clean
# chroot of RELEASE, natively or with --host, with the suite run inside the
# build (under qemu-user in a cross build) and again against the installed
# package; NOCHECK builds without the suite, as that profile says. Where the
# mirror cannot serve a file that its index lists, it leaves the reason in
# DIR/skipped instead.
sbuilt() {
  local release=$1 arch=$2 nocheck=${3:-} key dir
  dir=build/debs/$release-$arch${nocheck:+-nocheck}
  key=$(source_key)
  # A mirror that lacked a file may have it an hour later.
  [[ -z $(find "$dir/skipped" -mmin +60 2>/dev/null) ]] || rm -f "$dir/.key"
  fresh "$dir" "$key" sbuild_into "$@"
}
sbuild_into() {
  local release=$1 arch=$2 nocheck=${3:-} dsc chroot security options=() build_options version
  local dir=build/debs/$release-$arch${nocheck:+-nocheck}
  dsc=$(realpath "$(source_package)")
  version=$(dpkg-parsechangelog --show-field Version)${suffix[$release]}
  chroot=$(realpath "$(chroot_tarball "$release-buildd.tar" "$release" \
    "${architectures[$release]// /,}" --variant=buildd --include=apt-utils)")
  need /usr/bin/sbuild=sbuild
  need_subordinate_ids
  if [[ $arch == "$native" ]]; then
    options+=(--arch="$arch")
    security=$(debian_sources "$release" | grep -m 1 -- "-security ") || true
    if [[ -n $security ]] && lists_download "$security" "$native"; then
      options+=(--extra-repository="deb [signed-by=$keyring] $security")
    fi
  else
    options+=(--build="$native" --host="$arch")
  fi
  if [[ -n $nocheck ]]; then
    options+=(--profiles="$([[ $arch == "$native" ]] || echo cross,)nocheck")
    build_options=nocheck
  else
    [[ $arch == "$native" ]] || options+=(--profiles=cross)
    # Set, for sbuild adds nocheck to a cross build where it is not.
    build_options=
    # The installed package, run as the build ran it: in a cross build,
    # under the emulator that CMake was given.
    # shellcheck disable=SC2016 # for the shell in the chroot
    options+=(--finished-build-commands='cd %SBUILD_PKGBUILD_DIR &&
      dpkg --install ../score-lookup_*_%SBUILD_HOST_ARCH.deb &&
      emulator=$(sed -n "s/^CMAKE_CROSSCOMPILING_EMULATOR:[A-Z]*=//p" obj-*/CMakeCache.txt) &&
      { debian/tests/suite $emulator /usr/bin/score_lookup || test $? = 77; }')
  fi
  # The version's own entry, which sbuild adds, is dated as the release.
  options+=(--append-to-version="${suffix[$release]}" --binNMU-timestamp="$(dpkg-parsechangelog -STimestamp)"
    --maintainer="$(dpkg-parsechangelog -SMaintainer)")
  if ! (cd "$dir" && env -u DEB_BUILD_PROFILES DEB_BUILD_OPTIONS="$build_options" \
    sbuild --chroot-mode=unshare --chroot="$chroot" \
    --dist="$release" --no-run-lintian --no-run-piuparts --no-run-autopkgtest \
    --no-source-only-changes "${options[@]}" "$dsc" >sbuild.out 2>&1); then
    local missing
    local log="$dir/score-lookup_${version}_$arch.build"
    if ! grep -qx 'Fail-Stage: install-deps' "$log" ||
      ! missing=$(grep -o -m 1 -E 'Failed to fetch [^ ]+\.deb  404' "$log"); then
      tail -n 60 "$log" "$dir/sbuild.out" >&2
      fail "sbuild failed for $release on $arch; its log is in $dir"
    fi
    missing=${missing#Failed to fetch }
    missing=${missing%% *}
    missing=${missing##*/}
    printf 'skipped: the mirror lacks %b\n' "${missing//%/\\x}" >"$dir/skipped"
  fi
}

# Whether sbuilt left the .debs of RELEASE-ARCH, or the reason it could not.
skipped_reason() { cat "build/debs/$1/skipped" 2>/dev/null; }

# Wine runs the 32-bit .exe in the downloads' chroot. Where the kernel runs
# no 32-bit programs, a CI machine lets qemu-user run them: the static
# qemu-i386 of Debian 13, whose start of wine takes seconds where Debian
# 12's takes a minute, registered with binfmt_misc until this shell ends.
i386_runs() {
  need /usr/bin/arch-test=arch-test
  arch-test -n i386 >/dev/null && return 0
  local misc=/proc/sys/fs/binfmt_misc dir=build/qemu-i386
  [[ ${CI:-} == true ]] || fail "this kernel runs no 32-bit programs, which wine needs:" \
    "apt-get install qemu-user-static binfmt-support (registers qemu-i386 for them)"
  if [[ ! -x $dir/qemu-i386 ]]; then
    mkdir -p "$dir/lists/partial" "$dir/parts"
    debian_sources trixie | grep -m 1 ' trixie ' | sed "s|^|deb [signed-by=$keyring] |" >"$dir/sources.list"
    local apt=(-o Dir::Etc::SourceList="$dir/sources.list" -o Dir::Etc::SourceParts="$dir/parts"
      -o Dir::State::Lists="$dir/lists" -o Dir::Cache="$dir" -o APT::Architectures="$native"
      -o APT::Sandbox::User="$(id -un)")
    apt-get update -qq "${apt[@]}" >&2
    (cd "$dir" && apt-get download -qq "${apt[@]}" qemu-user >&2)
    dpkg-deb --fsys-tarfile "$dir"/qemu-user_*.deb | tar -x -O ./usr/bin/qemu-i386 >"$dir/qemu-i386"
    chmod +x "$dir/qemu-i386"
  fi
  [[ -e $misc/register ]] || mount -t binfmt_misc binfmt_misc "$misc"
  [[ ! -e $misc/score-lookup-i386 ]] || echo -1 >"$misc/score-lookup-i386"
  # F: the kernel opens qemu now, so that it runs in any chroot.
  printf '%s' ':score-lookup-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$PWD/$dir/qemu-i386"':F' >"$misc/register"
  at_exit "echo -1 >$misc/score-lookup-i386"
  arch-test -n i386 >/dev/null || fail "qemu-i386 does not run 32-bit programs here"
}

# build/downloads/out/: what packaging/downloads builds and tests in a clean
# chroot of the oldest release, made for the purpose by mmdebstrap with the
# packages of the day, and removed after: the tarballs, the zip, the source
# archive, glibc's source, and the list of what built them. CHECKS, a
# script of the tree, then checks them in the same chroot.
built_downloads() {
  local key
  key=$(source_key)
  # A checked build serves where none is asked for.
  if [[ $(cat build/downloads/.key 2>/dev/null) != "$key checked" ]]; then
    fresh build/downloads "$key${1:+ checked}" make_downloads "$@"
  fi
}
make_downloads() {
  local checks=${1:-} tree hooks=() packages=(
    build-essential cmake git python3 python3-pyte zip unzip file
    g++-aarch64-linux-gnu libc6-dev:arm64 qemu-user # the aarch64 tarball
    g++-mingw-w64-i686-win32 wine wine32:i386        # the zip
    checksec reprotest faketime diffoscope-minimal   # CI's checks
  )
  # Each of the downloads is an x86 build or an x86 emulation.
  [[ $native == amd64 ]] || fail "the downloads are built on amd64, not $native"
  need /usr/bin/mmdebstrap=mmdebstrap /usr/bin/git=git
  need_subordinate_ids
  i386_runs
  tree=$(mktemp -d)
  copy_source "$tree/score-lookup"
  chroot_sources "$downloads_release" "$native,arm64,i386" "${packages[@]}" >"$tree/sources.list"
  # shellcheck disable=SC2016 # the hooks' $1 is the chroot
  hooks=(--customize-hook="copy-in $tree/score-lookup /srv"
    --customize-hook='chroot "$1" /srv/score-lookup/packaging/downloads /srv/out')
  # shellcheck disable=SC2016
  [[ -z $checks ]] || hooks+=(--customize-hook='chroot "$1" /srv/score-lookup/'"$checks"' /srv/out')
  mmdebstrap --mode=unshare --variant=apt --architectures="$native,arm64,i386" \
    --include="$(IFS=, && echo "${packages[*]}")" \
    "${hooks[@]}" --customize-hook="copy-out /srv/out $PWD/build/downloads" \
    "$downloads_release" /dev/null "$tree/sources.list" >&2
  rm -rf "$tree"
}
