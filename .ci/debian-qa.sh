# shellcheck shell=bash
# What the steps that run Debian's QA share (sbuild, nocheck, autopkgtest,
# piuparts, blhc), sourced after lib.sh. They run as the archive runs them:
# sbuild in a clean buildd chroot, the tests in a minimal one, both made by
# mmdebstrap from the machine's own Debian sources, for its own release and
# architecture. Everything is kept in build/debian-qa/ for the later steps of
# a run: the chroots until they are removed, the builds until a tracked file
# changes.
qa=build/debian-qa
# shellcheck source=/dev/null # the machine's own, not ours to check
release=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
[[ -n $release ]] || fail "this machine names no Debian release in /etc/os-release"
arch=$(dpkg --print-architecture)

# mmdebstrap, sbuild and autopkgtest make chroots in user namespaces, where
# root's ids are mapped to subordinate ones.
need_subordinate_ids() {
  need /usr/bin/newuidmap=uidmap /usr/sbin/usermod=passwd >&2
  if ! grep -q '^root:' /etc/subuid || ! grep -q '^root:' /etc/subgid; then
    # From 100000, or past every range that other users have.
    local first last
    first=$(cat /etc/subuid /etc/subgid 2>/dev/null |
      awk -F: 'BEGIN { end = 100000 } $3 > 0 && $2 + $3 > end { end = $2 + $3 } END { print end }')
    last=$((first + 65535))
    echo "Giving root the subordinate ids $first-$last, which user namespaces need." >&2
    usermod --add-subuids "$first-$last" --add-subgids "$first-$last" root
  fi
}

# build/debian-qa/sources.list: the machine's Debian sources for its release,
# which the chroots read. Only this architecture's lists are read, so a list
# that fails for another one (as bookworm-security's i386 and armhf have)
# cannot break them. A -updates or -security suite whose list fails for this
# one too is left out, and the log says so; the release itself must be whole.
chroot_sources() {
  local file=$qa/sources.list lines suites line suite
  local entry='^deb (\[[^]]*\] )?[^ ]+ ([^ ]+)' # its suite
  if [[ ! -e $file ]]; then
    lines=$(.ci/debian-sources | sed 's/^/deb /')
    [[ -n $lines ]] || fail "no Debian apt sources for $release on this machine"
    echo "The chroots read $arch's lists only: another architecture's that fail do not matter." >&2
    # apt-cache policy names only the suites whose lists were fetched.
    suites=$(.ci/with-apt-sources apt-cache policy <<<"$lines" | sed -n 's/^ *release .*[ ,]n=\([^,]*\).*/\1/p')
    grep -qx "$release" <<<"$suites" || fail "the lists of $release itself failed to download"
    mkdir -p $qa
    while read -r line; do
      [[ $line =~ $entry ]] || fail "cannot read the source $line"
      suite=${BASH_REMATCH[2]}
      if grep -qx "$suite" <<<"$suites"; then
        echo "$line"
      else
        echo "LEFT OUT of the chroots: $suite, whose $arch lists failed to download here (apt said why above)." >&2
      fi
    done <<<"$lines" >"$file.new"
    mv "$file.new" "$file"
  fi
  echo "$file"
}

# build/debian-qa/VARIANT.tar[.gz]: a chroot made by mmdebstrap, without
# package lists. buildd: what the buildds build in, for sbuild; minbase: the
# essential packages and apt, where the tests find only what they declare
# (piuparts reads only gzip).
chroot_tarball() {
  local variant=$1 file=$qa/$1.tar sources
  [[ $variant == buildd ]] || file+=.gz
  if [[ ! -e $file ]]; then
    need_subordinate_ids
    need /usr/bin/mmdebstrap=mmdebstrap >&2
    sources=$(chroot_sources)
    # The sources go where piuparts writes its own, which replace them.
    # shellcheck disable=SC2016,SC2154 # the hook's $1 is the chroot; lib.sh sets $scratch
    mmdebstrap --mode=unshare --variant="$variant" --architectures="$arch" \
      --customize-hook='mv "$1/etc/apt/sources.list.d/0000sources.list" "$1/etc/apt/sources.list"' \
      "$release" "$scratch/${file##*/}" "$sources" >&2
    mv "$scratch/${file##*/}" "$file"
  fi
  echo "$file"
}

# build/debian-qa/source/: the source package of the tracked files.
source_package() {
  local dir=$qa/source
  if ! is_current $dir/key; then
    need /usr/bin/dpkg-source=dpkg-dev /usr/bin/git=git >&2
    rm -rf $dir
    copy_source $dir/tree
    (cd $dir/tree && dpkg-source --build .) >&2
    rm -rf $dir/tree
    stamp $dir/key
  fi
  echo $dir/score-lookup_*.dsc
}

# build/debian-qa/sbuild/ and nocheck/: sbuild's builds of the tracked
# files in the buildd chroot, the suite inside ("check") or left out as the
# nocheck profile says ("nocheck"); the log is DIR/*_ARCH.build. Each prints
# the .deb's path. The caller's DEB_BUILD_OPTIONS and DEB_BUILD_PROFILES do
# not reach the build.
sbuilt() {
  local suite=${1:-check} dir=$qa/sbuild dsc chroot options=() variables=()
  if [[ $suite == nocheck ]]; then
    dir=$qa/nocheck
    options=(--profiles=nocheck)
    variables=(DEB_BUILD_OPTIONS=nocheck)
  fi
  if ! is_current "$dir/key"; then
    dsc=$(realpath "$(source_package)")
    chroot=$(realpath "$(chroot_tarball buildd)")
    need_subordinate_ids
    need /usr/bin/sbuild=sbuild >&2
    rm -rf "$dir"
    mkdir -p "$dir"
    if ! (cd "$dir" && env -u DEB_BUILD_OPTIONS -u DEB_BUILD_PROFILES "${variables[@]}" \
      sbuild --chroot-mode=unshare --chroot="$chroot" --dist="$release" --arch="$arch" \
      --no-run-lintian --no-run-piuparts --no-run-autopkgtest --no-source-only-changes \
      "${options[@]}" "$dsc" >&2); then
      tail -n 80 "$dir"/*_"$arch".build >&2 || true
      fail "sbuild failed; its log is $dir/$(basename "$dsc" .dsc)_$arch.build"
    fi
    stamp "$dir/key"
  fi
  echo "$dir"/score-lookup_*_"$arch".deb
}
