#!/usr/bin/env bash
# Builds the .deb and .rpm with scripts/package.sh, checks what they hold,
# and installs the .deb into a private root through its update-install
# program and a stand-in pkexec, as the update flow does, without touching
# the machine's own package database.
#   package_test.sh SOURCE_DIR BUILD_DIR
set -uo pipefail
src=$1
build=$2
work=$(mktemp -d /tmp/pmr-package-XXXXXX)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
check() { local what=$1; shift; if "$@"; then echo "ok: $what"; else fail "$what"; fi; }

"$src/scripts/package.sh" "$build" "$work/out" >/dev/null || { echo "FAIL: packaging"; exit 1; }
deb=$(ls "$work"/out/pellomar_*_amd64.deb)
rpm=$(ls "$work"/out/pellomar-*.x86_64.rpm)

expected="/usr/bin/pellomar
/usr/lib/pellomar
/usr/lib/pellomar/linux-ui
/usr/lib/pellomar/linux-ui/boot.html
/usr/lib/pellomar/package-type
/usr/lib/pellomar/pellomar
/usr/lib/pellomar/ui
/usr/lib/pellomar/ui/index.html
/usr/lib/pellomar/update-install
/usr/share/applications/app.pellomar.free.desktop
/usr/share/icons/hicolor/scalable/apps/pellomar.svg
/usr/share/metainfo/app.pellomar.free.metainfo.xml"

# ---- what the packages hold
info=$(dpkg-deb --info "$deb")
check "deb is named pellomar" grep -q '^ Package: pellomar$' <<<"$info"
check "deb version is the program's" grep -q '^ Version: 1\.0\.2$' <<<"$info"
deb_files=$(dpkg-deb --contents "$deb" | awk '{print $6}' | sed 's#^\.##; s#/$##' | grep -v '^$' | sort)
while read -r f; do
  check "deb holds $f" grep -qx "$f" <<<"$deb_files"
done <<<"$expected"
check "deb: update-install is executable" grep -q '^-rwxr-xr-x root/root .* ./usr/lib/pellomar/update-install$' \
  <<<"$(dpkg-deb --contents "$deb")"

rpm_files=$(rpm -qlp "$rpm" 2>/dev/null | sort)
while read -r f; do
  check "rpm holds $f" grep -qx "$f" <<<"$rpm_files"
done <<<"$expected"
check "rpm name and version" test "$(rpm -qp --queryformat '%{NAME} %{VERSION}' "$rpm" 2>/dev/null)" = "pellomar 1.0.2"
check "rpm needs no Debian-only symbol versions" bash -c "! rpm -qp --requires '$rpm' 2>/dev/null | grep -q CURL_OPENSSL"
rpm2cpio "$rpm" > "$work/rpm.cpio"
rpm_type=$(python3 - "$work/rpm.cpio" <<'PY'
import sys
data = open(sys.argv[1], "rb").read()
pos = 0
while data[pos:pos + 6] == b"070701":
    fields = [int(data[pos + 6 + 8 * i:pos + 14 + 8 * i], 16) for i in range(13)]
    size, namesize = fields[6], fields[11]
    name_end = pos + 110 + namesize
    name = data[pos + 110:name_end - 1].decode()
    start = (name_end + 3) & ~3
    if name.endswith("/usr/lib/pellomar/package-type"):
        sys.stdout.write(data[start:start + size].decode())
    pos = (start + size + 3) & ~3
PY
)
check "rpm says it is an rpm installation" test "$rpm_type" = "rpm"

# ---- the shipped metadata validates
dpkg-deb -x "$deb" "$work/x"
check "desktop entry validates" desktop-file-validate "$work/x/usr/share/applications/app.pellomar.free.desktop"
check "metainfo validates" appstreamcli validate --no-net "$work/x/usr/share/metainfo/app.pellomar.free.metainfo.xml"
check "package-type is deb" test "$(cat "$work/x/usr/lib/pellomar/package-type")" = deb

# ---- installing through update-install, as the program's update does
fake=$work/fakebin
mkdir -p "$fake"
cat > "$fake/pkexec" <<'SH'
#!/bin/sh
exec "$@"
SH
# The package tool installs into $PMR_ROOT with its own database.
cat > "$fake/apt-get" <<'SH'
#!/bin/sh
for last in "$@"; do :; done
exec dpkg --root="$PMR_ROOT" --force-depends -i "$last"
SH
chmod 755 "$fake/pkexec" "$fake/apt-get"
newroot() {
  mkdir -p "$1/var/lib/dpkg/info" "$1/var/lib/dpkg/updates"
  : > "$1/var/lib/dpkg/status"
}
hash=$(sha256sum < "$deb" | cut -c1-64)
installer=$work/x/usr/lib/pellomar/update-install

newroot "$work/root1"
out=$(printf '%s\n' "$deb" | PMR_ROOT=$work/root1 PATH="$fake:$PATH" pkexec "$installer" --wait "$hash" 2>&1)
rc=$?
check "--wait install exits 0" test $rc -eq 0
check "--wait prints ready first" test "$(head -n1 <<<"$out")" = ready
check "installed program is in the private root" test -x "$work/root1/usr/lib/pellomar/pellomar"
check "installed package-type is deb" test "$(cat "$work/root1/usr/lib/pellomar/package-type" 2>/dev/null)" = deb
check "private database knows pellomar" bash -c "dpkg --root='$work/root1' -s pellomar 2>/dev/null | grep -q '^Status: install ok installed'"

newroot "$work/root2"
PMR_ROOT=$work/root2 PATH="$fake:$PATH" pkexec "$installer" "$deb" "$hash" >/dev/null 2>&1
check "direct install exits 0" test $? -eq 0
check "direct install lands" test -x "$work/root2/usr/lib/pellomar/update-install"

# Refusals: nothing is installed.
mkdir -p "$work/other/DEBIAN"
printf 'Package: other\nVersion: 1\nArchitecture: all\nMaintainer: t <t@t>\nDescription: t\n' > "$work/other/DEBIAN/control"
dpkg-deb --root-owner-group --build "$work/other" "$work/other.deb" >/dev/null
other_hash=$(sha256sum < "$work/other.deb" | cut -c1-64)
refuse() {  # what file hash
  newroot "$work/root3"
  PMR_ROOT=$work/root3 PATH="$fake:$PATH" pkexec "$installer" "$2" "$3" >/dev/null 2>&1
  local rc=$?
  check "$1 is refused" test $rc -ne 0 -a $rc -ne 126 -a $rc -ne 127
  check "$1 installs nothing" test ! -e "$work/root3/usr"
}
refuse "wrong hash" "$deb" "$other_hash"
refuse "another package" "$work/other.deb" "$other_hash"
refuse "upper-case hash" "$deb" "$(tr a-f A-F <<<"$hash")"
refuse "relative path" "out/$(basename "$deb")" "$hash"
refuse "missing file" "$work/none.deb" "$hash"

# The packaged program runs and carries a release key that loads.
blob=$(openssl ec -in "$src/tests/fixtures/update/TEST-ONLY-signing-key.pem" -pubout -outform DER 2>/dev/null \
  | tail -c 64 | od -An -tx1 | tr -d ' \n')
printf '{"line":"key","hex":"45435331%s%s"}\n' 20000000 "$blob" > "$work/vectors"
report=$("$work/root1/usr/lib/pellomar/pellomar" --selftest-update="$work/vectors")
check "installed program's release key loads" grep -qx 'PASS release key loads' <<<"$report"
check "installed program's test key line loads" grep -qx 'PASS test key loads as a valid P-256 public key' <<<"$report"

[ $failures -eq 0 ] && echo "all package checks passed"
exit $((failures > 0))
