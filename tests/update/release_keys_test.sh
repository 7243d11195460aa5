#!/usr/bin/env bash
# A maintainer's round trip, as "Making a release" in the README describes
# it: scripts/release-key makes a key pair, update-install is built with that
# key as its only trusted key (tests/update/keyset, the same sources and key
# embedding as the program's build), scripts/release-sign signs a manifest,
# and the helper installs the package it covers; a manifest changed after
# signing, or signed with another key, is refused.
# Start as: unshare -m release_keys_test.sh SOURCE_DIR CMAKE_CXX_COMPILER
set -uo pipefail
src=$1
cxx=$2
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
check() { local what=$1; shift; if "$@"; then echo "ok: $what"; else fail "$what"; fi; }
mount --make-rprivate / || { echo "FAIL: no private mount namespace (start through unshare -m)"; exit 1; }
work=$(mktemp -d /tmp/pmr-release-keys-XXXXXX)
chmod 755 "$work"
trap 'umount /usr/sbin 2>/dev/null; rm -rf "$work"' EXIT

# ---- scripts/release-key
mkdir -p "$work/private" "$work/keys"
"$src/scripts/release-key" "$work/private/release.pem" "$work/keys/release.pem" >/dev/null
check "release-key succeeds" test $? -eq 0
check "the private half has mode 0600" test "$(stat -c %a "$work/private/release.pem")" = 600
check "the private half is a P-256 key" bash -c "openssl pkey -in '$work/private/release.pem' -text -noout 2>/dev/null | grep -q 'NIST CURVE: P-256'"
check "the public half holds no private key" bash -c "! grep -q PRIVATE '$work/keys/release.pem'"
"$src/scripts/release-key" "$work/private/release.pem" "$work/keys/again.pem" >/dev/null 2>&1
check "an existing private key is never overwritten" test $? -ne 0 -a ! -e "$work/keys/again.pem"
for inside in "$src/release.pem" "$src/data/release-keys/new.pem" "$src/tests/../build-x.pem"; do
  "$src/scripts/release-key" "$inside" "$work/keys/inside.pem" >/dev/null 2>&1
  check "no private key inside the repository: $inside" test $? -ne 0 -a ! -e "$inside" -a ! -e "$work/keys/inside.pem"
done
ln -s "$src" "$work/repo-link"
"$src/scripts/release-key" "$work/repo-link/linked.pem" "$work/keys/linked.pem" >/dev/null 2>&1
check "nor through a link into it" test $? -ne 0 -a ! -e "$src/linked.pem"

# ---- the embedding refuses a private key
mkdir -p "$work/badkeys"
cp "$work/private/release.pem" "$work/badkeys/oops.pem"
cmake -S "$src/tests/update/keyset" -B "$work/badbuild" -DPMR_KEY_DIR="$work/badkeys" \
  -DCMAKE_CXX_COMPILER="$cxx" > "$work/bad.log" 2>&1
check "a private key in the key folder stops the build" test $? -ne 0
check "and says why" grep -q "holds a private key" "$work/bad.log"

# ---- update-install trusting only the new key
cmake -S "$src/tests/update/keyset" -B "$work/build" -G Ninja -DPMR_KEY_DIR="$work/keys" \
  -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_BUILD_TYPE=Debug > "$work/build.log" 2>&1 &&
  cmake --build "$work/build" > "$work/build.log" 2>&1
check "update-install builds with the new key" test -x "$work/build/update-install" || cat "$work/build.log"
helper=$work/build/update-install

# Stand-ins where the helper looks for system programs first.
mkdir -p "$work/sbin"
printf '#!/bin/sh\nfor last in "$@"; do :; done\necho "INSTALLED $(/usr/bin/dpkg-deb -f "$last" Package) $(/usr/bin/dpkg-deb -f "$last" Version)" >> %s/installed\n' "$work" > "$work/sbin/apt-get"
printf '#!/bin/sh\necho 1.0.2\n' > "$work/sbin/dpkg-query"
for t in dpkg rpm dnf zypper; do printf '#!/bin/sh\necho "INSTALLED through %s" >> %s/installed\nexit 1\n' $t "$work" > "$work/sbin/$t"; done
chmod 755 "$work"/sbin/*
mount -t tmpfs -o mode=755 tmpfs /usr/sbin && cp -a "$work/sbin/." /usr/sbin/

mkdir -p "$work/pkg/DEBIAN"
printf 'Package: pellomar\nVersion: 1.1.0\nArchitecture: all\nMaintainer: t <t@t>\nDescription: t\n' > "$work/pkg/DEBIAN/control"
dpkg-deb --root-owner-group --build "$work/pkg" "$work/pellomar.deb" >/dev/null
sign() { "$src/scripts/release-sign" "$1" linux-free-deb 1.1.0 https://dl.pellomar.app/pellomar.deb "$work/pellomar.deb" 2>/dev/null; }
sign "$work/private/release.pem" > "$work/good.json"
check "release-sign signs" test -s "$work/good.json"
sed 's/"version":"1.1.0"/"version":"1.1.1"/' "$work/good.json" > "$work/changed.json"
sign "$src/tests/fixtures/update/TEST-ONLY-signing-key.pem" > "$work/other.json"
"$src/scripts/release-sign" "$work/private/release.pem" linux-free-deb 1.1.0 "http://dl.pellomar.app/x.deb" "$work/pellomar.deb" >/dev/null 2>&1
check "release-sign refuses a plain http link" test $? -ne 0
"$src/scripts/release-sign" "$work/private/release.pem" linux-free-deb 1.1 https://dl.pellomar.app/x.deb "$work/pellomar.deb" >/dev/null 2>&1
check "release-sign refuses a malformed version" test $? -ne 0

install_with() {  # manifest
  : > "$work/installed"
  env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin "$helper" "$1" "$work/pellomar.deb" >/dev/null 2>&1
}
install_with "$work/good.json"
check "a manifest signed by release-sign installs" test $? -eq 0 -a "$(cat "$work/installed")" = "INSTALLED pellomar 1.1.0"
install_with "$work/changed.json"
check "a manifest changed after signing is refused" test $? -eq 4 -a ! -s "$work/installed"
install_with "$work/other.json"
check "a manifest signed by another key is refused" test $? -eq 4 -a ! -s "$work/installed"

[ $failures -eq 0 ] && echo "all release key checks passed"
exit $((failures > 0))
