#!/usr/bin/env bash
# Builds the .deb and .rpm with scripts/package.sh, checks what they hold
# (the program, its root helpers and their polkit actions, which must load
# into a real polkitd), and installs the .deb into a private root through
# update-install, as the update flow does, without touching the machine's
# own package database: it runs in a private mount namespace whose /usr/sbin,
# where the helpers look for system programs first, holds stand-ins.
#   unshare -m package_test.sh SOURCE_DIR BUILD_DIR
set -uo pipefail
src=$1
build=$2
mount --make-rprivate / || { echo "FAIL: no private mount namespace (start through unshare -m)"; exit 1; }
work=$(mktemp -d /tmp/pmr-package-XXXXXX)
chmod 755 "$work"
cleanup() {
  [ -n "${bus_pid:-}" ] && kill "$bus_pid" 2>/dev/null
  [ -n "${polkit_pid:-}" ] && kill "$polkit_pid" 2>/dev/null
  umount /usr/share/polkit-1/actions /usr/sbin 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
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
/usr/lib/pellomar/setup-input
/usr/lib/pellomar/ui
/usr/lib/pellomar/ui/clicker-extras.js
/usr/lib/pellomar/ui/index.html
/usr/lib/pellomar/update-install
/usr/share/applications/app.pellomar.free.desktop
/usr/share/icons/hicolor/scalable/apps/pellomar.svg
/usr/share/metainfo/app.pellomar.free.metainfo.xml
/usr/share/polkit-1/actions/app.pellomar.free.policy"

# ---- what the packages hold
info=$(dpkg-deb --info "$deb")
check "deb is named pellomar" grep -q '^ Package: pellomar$' <<<"$info"
check "deb version is the program's" grep -q '^ Version: 1\.0\.2$' <<<"$info"
deb_files=$(dpkg-deb --contents "$deb" | awk '{print $6}' | sed 's#^\.##; s#/$##' | grep -v '^$' | sort)
while read -r f; do
  check "deb holds $f" grep -qx "$f" <<<"$deb_files"
done <<<"$expected"
for helper in update-install setup-input; do
  check "deb: $helper is root's and executable" grep -q "^-rwxr-xr-x root/root .* ./usr/lib/pellomar/$helper\$" \
    <<<"$(dpkg-deb --contents "$deb")"
  check "rpm: $helper is root's and executable" grep -q "^-rwxr-xr-x .* root *root .* /usr/lib/pellomar/$helper\$" \
    <<<"$(rpm -qlvp "$rpm" 2>/dev/null)"
done
check "deb: policy is root's, mode 0644" grep -q '^-rw-r--r-- root/root .* ./usr/share/polkit-1/actions/app.pellomar.free.policy$' \
  <<<"$(dpkg-deb --contents "$deb")"

rpm_files=$(rpm -qlp "$rpm" 2>/dev/null | sort)
while read -r f; do
  check "rpm holds $f" grep -qx "$f" <<<"$rpm_files"
done <<<"$expected"
check "rpm name and version" test "$(rpm -qp --queryformat '%{NAME} %{VERSION}' "$rpm" 2>/dev/null)" = "pellomar 1.0.2"
check "rpm needs no Debian-only symbol versions" bash -c "! rpm -qp --requires '$rpm' 2>/dev/null | grep -q CURL_OPENSSL"
rpm2cpio "$rpm" > "$work/rpm.cpio"
rpm_file() {  # path: a file's content in the rpm
  python3 - "$work/rpm.cpio" "$1" <<'PY'
import sys
data = open(sys.argv[1], "rb").read()
pos = 0
while data[pos:pos + 6] == b"070701":
    fields = [int(data[pos + 6 + 8 * i:pos + 14 + 8 * i], 16) for i in range(13)]
    size, namesize = fields[6], fields[11]
    name_end = pos + 110 + namesize
    name = data[pos + 110:name_end - 1].decode()
    start = (name_end + 3) & ~3
    if name.endswith(sys.argv[2]):
        sys.stdout.write(data[start:start + size].decode())
    pos = (start + size + 3) & ~3
PY
}
rpm_type=$(rpm_file /usr/lib/pellomar/package-type)
check "rpm says it is an rpm installation" test "$rpm_type" = "rpm"

# ---- the shipped metadata validates
dpkg-deb -x "$deb" "$work/x"
check "desktop entry validates" desktop-file-validate "$work/x/usr/share/applications/app.pellomar.free.desktop"
check "metainfo validates" appstreamcli validate --no-net "$work/x/usr/share/metainfo/app.pellomar.free.metainfo.xml"
check "package-type is deb" test "$(cat "$work/x/usr/lib/pellomar/package-type")" = deb

# ---- the polkit actions: the fields pkexec relies on, then a real polkitd
policy=$work/x/usr/share/polkit-1/actions/app.pellomar.free.policy
fields=$(python3 - "$policy" <<'PY'
import sys, xml.etree.ElementTree as ET
root = ET.parse(sys.argv[1]).getroot()
for a in root.findall("action"):
    d = a.find("defaults")
    print(a.get("id"), *(d.find(k).text for k in ("allow_any", "allow_inactive", "allow_active")),
          {n.get("key"): n.text for n in a.findall("annotate")}.get("org.freedesktop.policykit.exec.path"),
          "message" if (a.findtext("message") or "").strip() else "no-message")
PY
)
check "policy holds the two actions, each for its helper, password always asked" test "$fields" = \
"app.pellomar.free.update auth_admin auth_admin auth_admin /usr/lib/pellomar/update-install message
app.pellomar.free.setup-input auth_admin auth_admin auth_admin /usr/lib/pellomar/setup-input message"
check "the rpm ships the same policy" cmp -s "$policy" <(rpm_file /usr/share/polkit-1/actions/app.pellomar.free.policy)
# polkitd reads the actions of a private copy of the actions folder, on a
# private system bus.
mkdir -p "$work/actions" "$work/bus"
chmod 755 "$work/bus"
cp "$policy" "$work/actions/"
cat > "$work/bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig><listen>unix:path=$work/bus/socket</listen><auth>EXTERNAL</auth>
<policy context="default"><allow user="*"/><allow own="*"/><allow send_destination="*"/><allow receive_sender="*"/></policy></busconfig>
CONF
if [ -x /usr/lib/polkit-1/polkitd ] && [ -d /usr/share/polkit-1/actions ]; then
  mount --bind "$work/actions" /usr/share/polkit-1/actions
  dbus-daemon --config-file="$work/bus.conf" --nofork 2>/dev/null & bus_pid=$!
  export DBUS_SYSTEM_BUS_ADDRESS=unix:path=$work/bus/socket
  for _ in $(seq 250); do [ -S "$work/bus/socket" ] && break; sleep 0.02; done
  /usr/lib/polkit-1/polkitd --no-debug >/dev/null 2>&1 & polkit_pid=$!
  loaded=""
  for _ in $(seq 150); do
    loaded=$(pkaction --action-id app.pellomar.free.update --verbose 2>/dev/null) && break
    sleep 0.1
  done
  check "polkitd loads the update action" grep -q 'description: *Install a Pellomar update' <<<"$loaded"
  check "update action: password of an administrator" grep -q 'implicit active: *auth_admin$' <<<"$loaded"
  check "update action names its helper" grep -q 'org.freedesktop.policykit.exec.path -> /usr/lib/pellomar/update-install' <<<"$loaded"
  loaded=$(pkaction --action-id app.pellomar.free.setup-input --verbose 2>/dev/null)
  check "polkitd loads the input setup action" grep -q 'org.freedesktop.policykit.exec.path -> /usr/lib/pellomar/setup-input' <<<"$loaded"
  check "input setup action: password of an administrator" grep -q 'implicit any: *auth_admin$' <<<"$loaded"
  kill "$polkit_pid" "$bus_pid" 2>/dev/null
  wait "$polkit_pid" "$bus_pid" 2>/dev/null
  polkit_pid="" bus_pid=""
  unset DBUS_SYSTEM_BUS_ADDRESS
  umount /usr/share/polkit-1/actions
else
  echo "skipped: polkitd is not installed (scripts/packages/test.txt), the policy was only parsed"
fi

# ---- installing through update-install, as the program's update does
# The stand-ins: apt-get installs into the private root with its own
# database, and dpkg-query answers the version installed now; every other
# package tool fails.
fake=$work/sbin
mkdir -p "$fake"
cat > "$fake/apt-get" <<SH
#!/bin/sh
echo "apt-get \$*" >> '$work/calls'
for last in "\$@"; do :; done
root=\$(cat '$work/root')
exec /usr/bin/dpkg --root="\$root" --force-depends -i "\$last"
SH
printf '#!/bin/sh\necho 1.0.2\n' > "$fake/dpkg-query"
for t in dpkg rpm dnf zypper; do printf '#!/bin/sh\necho "%s $*" >> %s/calls\nexit 1\n' $t "$work" > "$fake/$t"; done
chmod 755 "$fake"/*
# dpkg itself needs ldconfig and start-stop-daemon from the real /usr/sbin.
mkdir -p "$work/realsbin" && cp -a /usr/sbin/. "$work/realsbin/"
mount -t tmpfs -o mode=755 tmpfs /usr/sbin
cp -a "$work/realsbin/." "$fake/." /usr/sbin/
newroot() {
  mkdir -p "$1/var/lib/dpkg/info" "$1/var/lib/dpkg/updates"
  : > "$1/var/lib/dpkg/status"
  echo "$1" > "$work/root"
}
# The update is this package as 1.1.0, with a manifest signed by the TEST-ONLY key.
dpkg-deb -R "$deb" "$work/tree"
sed -i 's/^Version: .*/Version: 1.1.0/' "$work/tree/DEBIAN/control"
dpkg-deb --root-owner-group -Zxz --build "$work/tree" "$work/update.deb" >/dev/null
"$src/scripts/release-sign" "$src/tests/fixtures/update/TEST-ONLY-signing-key.pem" linux-free-deb 1.1.0 \
  https://dl.pellomar.app/pellomar.deb "$work/update.deb" > "$work/manifest.json" 2>/dev/null
installer=$work/x/usr/lib/pellomar/update-install
testkey_installer=$build/update-install-testkey
as_pkexec() { env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin "$@"; }

newroot "$work/root1"
out=$(printf "%s\n%s\n" "$work/manifest.json" "$work/update.deb" | as_pkexec "$testkey_installer" --wait 2>"$work/wait.err")
check "--wait install exits 0" test $? -eq 0 || cat "$work/wait.err"
check "--wait prints only ready" test "$out" = ready
check "installed program is in the private root" test -x "$work/root1/usr/lib/pellomar/pellomar"
check "installed helpers are in the private root" test -x "$work/root1/usr/lib/pellomar/setup-input"
check "installed package-type is deb" test "$(cat "$work/root1/usr/lib/pellomar/package-type" 2>/dev/null)" = deb
check "private database knows pellomar 1.1.0" bash -c "/usr/bin/dpkg-query --root='$work/root1' -s pellomar 2>/dev/null | grep -q '^Version: 1.1.0'"

newroot "$work/root2"
as_pkexec "$testkey_installer" "$work/manifest.json" "$work/update.deb" >/dev/null 2>&1
check "direct install exits 0" test $? -eq 0
check "direct install lands" test -x "$work/root2/usr/lib/pellomar/update-install"

# Refusals: nothing is installed.
refuse() {  # what helper args...
  local what=$1; shift
  newroot "$work/root3"
  as_pkexec "$@" >/dev/null 2>&1
  local rc=$?
  check "$what is refused" test $rc -ne 0 -a $rc -ne 126 -a $rc -ne 127
  check "$what installs nothing" test ! -e "$work/root3/usr"
}
hash=$(sha256sum < "$work/update.deb" | cut -c1-64)
refuse "the packaged helper with a TEST-ONLY signature" "$installer" "$work/manifest.json" "$work/update.deb"
refuse "the packaged helper with the old arguments (file, hash)" "$installer" "$work/update.deb" "$hash"
refuse "the built package itself (1.0.2, not newer)" "$testkey_installer" "$work/manifest.json" "$deb"
refuse "a relative path" "$testkey_installer" "$work/manifest.json" "update.deb"
refuse "a missing file" "$testkey_installer" "$work/manifest.json" "$work/none.deb"
check "no package tool was asked to downgrade" bash -c "! grep -q -e --allow-downgrades -e --allow-unsigned '$work/calls'"
umount /usr/sbin

# The packaged program runs and carries a release key that loads.
blob=$(openssl ec -in "$src/tests/fixtures/update/TEST-ONLY-signing-key.pem" -pubout -outform DER 2>/dev/null \
  | tail -c 64 | od -An -tx1 | tr -d ' \n')
printf '{"line":"key","hex":"45435331%s%s"}\n' 20000000 "$blob" > "$work/vectors"
report=$("$work/root1/usr/lib/pellomar/pellomar" --selftest-update="$work/vectors")
check "installed program's release key loads" grep -qx 'PASS release key loads' <<<"$report"
check "installed program's test key line loads" grep -qx 'PASS test key loads as a valid P-256 public key' <<<"$report"

[ $failures -eq 0 ] && echo "all package checks passed"
exit $((failures > 0))
