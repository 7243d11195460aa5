#!/usr/bin/env bash
# The root helpers run as root, as pkexec starts them, in a private mount
# namespace (start as: unshare -m root_helpers_test.sh SRC UPDATE_INSTALL
# UPDATE_INSTALL_TESTKEY SETUP_INPUT). The helpers look for system programs
# in /usr/sbin first: a private tmpfs there holds stand-ins for every package
# tool and for udevadm and modprobe, so nothing is ever installed on the
# machine; /etc is a private copy.
#   update-install: a package named pellomar is installed only with a manifest
#   signed by a trusted key, whose hash it matches, and whose version is newer
#   than the installed one, whichever way the helper is called.
#   setup-input: writes the rule and module files and runs its fixed steps.
set -uo pipefail
src=$1
shipped=$2   # update-install as packaged: trusts data/release-keys only
helper=$3    # the same program trusting the TEST-ONLY key
setup=$4
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
check() { local what=$1; shift; if "$@"; then echo "ok: $what"; else fail "$what"; fi; }

[ "$(id -u)" -eq 0 ] || { echo "needs root"; exit 1; }
mount --make-rprivate / || { echo "no private mount namespace (start through unshare -m)"; exit 1; }
work=$(mktemp -d /tmp/pmr-roothelpers-XXXXXX)
trap 'umount /usr/sbin /etc 2>/dev/null; rm -rf "$work"' EXIT
chmod 755 "$work"
log=$work/installed.log
: > "$log"

# ---- stand-ins (they log; installing means a line in $log)
tools=$work/sbin
mkdir -p "$tools"
standin() { printf '#!/bin/sh\n%s\n' "$2" > "$tools/$1"; chmod 755 "$tools/$1"; }
standin apt-get "echo \"apt-get \$*\" >> '$work/calls'
for last in \"\$@\"; do :; done
echo \"INSTALLED \$(/usr/bin/dpkg-deb -f \"\$last\" Package) \$(/usr/bin/dpkg-deb -f \"\$last\" Version)\" >> '$log'"
standin dpkg-query "echo \"dpkg-query \$*\" >> '$work/calls'
[ -f '$work/installed-version' ] || exit 1
cat '$work/installed-version'"
standin rpm "echo \"rpm \$*\" >> '$work/calls'
case \"\$1\" in
  -qp) exec /usr/bin/rpm \"\$@\" ;;
  -q) [ -f '$work/installed-version' ] || exit 1; cat '$work/installed-version' ;;
  -U) for last in \"\$@\"; do :; done
      echo \"INSTALLED \$(/usr/bin/rpm -qp --queryformat '%{NAME} %{VERSION}' \"\$last\" 2>/dev/null)\" >> '$log' ;;
  *) exit 1 ;;
esac"
for t in dpkg dnf zypper; do standin $t "echo \"$t \$*\" >> '$work/calls'; echo 'INSTALLED through $t' >> '$log'"; done
for t in udevadm modprobe; do
  standin $t "echo \"$t \$*\" >> '$work/setup.log'; [ -f '$work/fail-$t' ] && exit 1; exit 0"
done
mount -t tmpfs -o mode=755 tmpfs /usr/sbin || { echo "cannot mount a private /usr/sbin"; exit 1; }
cp -a "$tools/." /usr/sbin/
cp -a /etc "$work/etc" && mount --bind "$work/etc" /etc || { echo "cannot make a private /etc"; exit 1; }

# ---- packages and manifests
deb() {  # name version [postinst]
  local d=$work/pkg-$1-$2
  mkdir -p "$d/DEBIAN"
  printf 'Package: %s\nVersion: %s\nArchitecture: all\nMaintainer: t <t@t>\nDescription: t\n' "$1" "$2" > "$d/DEBIAN/control"
  if [ -n "${3:-}" ]; then printf '#!/bin/sh\n%s\n' "$3" > "$d/DEBIAN/postinst"; chmod 755 "$d/DEBIAN/postinst"; fi
  dpkg-deb --root-owner-group --build "$d" "$work/$1_$2.deb" >/dev/null
  echo "$work/$1_$2.deb"
}
evil=$(deb pellomar 0.0.1 "echo postinst ran as root uid=\$(id -u) > '$work/pwned'")
good=$(deb pellomar 1.1.0)
same=$(deb pellomar 1.0.3)
other=$(deb other 1.1.0)
testkey=$src/tests/fixtures/update/TEST-ONLY-signing-key.pem
url=https://dl.pellomar.app/pellomar.deb
sign() {  # key tier version package
  "$src/scripts/release-sign" "$1" "$2" "$3" "$url" "$4" 2>/dev/null
}
manifest() {  # name key tier version package
  sign "$2" "$3" "$4" "$5" > "$work/$1.json" && echo "$work/$1.json"
}
m_good=$(manifest good "$testkey" linux-free-deb 1.1.0 "$good")
m_evil=$(manifest evil "$testkey" linux-free-deb 0.0.1 "$evil")
m_same=$(manifest same "$testkey" linux-free-deb 1.0.3 "$same")
m_other=$(manifest other "$testkey" linux-free-deb 1.1.0 "$other")
m_rpmtier=$(manifest rpmtier "$testkey" linux-free-rpm 1.1.0 "$good")
m_evil_as_newer=$(manifest evilnewer "$testkey" linux-free-deb 1.1.0 "$evil")
"$src/scripts/release-key" "$work/stranger.pem" "$work/stranger.pub" >/dev/null
m_stranger=$(manifest stranger "$work/stranger.pem" linux-free-deb 1.1.0 "$evil")
evil_sha=$(sha256sum < "$evil" | cut -c1-64)
# The signed values of a real manifest with the signature cut off or replaced.
sed 's/"sig":"[0-9a-f]*"/"sig":""/' "$m_evil_as_newer" > "$work/nosig.json"
sed 's/"sig":"[0-9a-f]*"/"sig":"'"$(printf '%0128d' 0)"'"/' "$m_evil_as_newer" > "$work/zerosig.json"
ln -s "$evil" "$work/link.deb"

run() {  # helper stdin args...: runs as pkexec would (root, a sanitised PATH)
  local h=$1 input=$2; shift 2
  printf '%s' "$input" | env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin "$h" "$@" > "$work/out" 2> "$work/err"
}
refused() {  # what helper stdin args...
  local what=$1; shift
  : > "$log"
  run "$@"
  local rc=$?
  check "$what: refused (exit $rc)" test $rc -ne 0 -a $rc -ne 126 -a $rc -ne 127
  check "$what: nothing installed" test ! -s "$log" -a ! -e "$work/pwned"
}
installed() {  # what expected helper stdin args...
  local what=$1 expected=$2; shift 2
  : > "$log"
  run "$@"
  local rc=$?
  check "$what: exit 0" test $rc -eq 0
  check "$what: installs $expected" test "$(cat "$log")" = "INSTALLED $expected"
}

echo 1.0.3 > "$work/installed-version"
# The calls of the old helper, with a hash chosen by the caller.
refused "file and caller's hash" "$helper" "" "$evil" "$evil_sha"
refused "--wait with caller's hash" "$helper" "$evil"$'\n' --wait "$evil_sha"
refused "--wait with the package only" "$helper" "$evil"$'\n' --wait
# No manifest, a manifest that is not signed, or signed by a stranger.
refused "missing manifest" "$helper" "" "$work/none.json" "$evil"
refused "the package given as its own manifest" "$helper" "" "$evil" "$evil"
refused "manifest without signature" "$helper" "" "$work/nosig.json" "$evil"
refused "manifest with a zero signature" "$helper" "" "$work/zerosig.json" "$evil"
refused "manifest signed by an untrusted key" "$helper" "" "$m_stranger" "$evil"
refused "untrusted key, through --wait" "$helper" "$m_stranger"$'\n'"$evil"$'\n' --wait
# Signed manifests that do not cover what is offered.
refused "signed manifest, other package (hash differs)" "$helper" "" "$m_good" "$evil"
refused "signed manifest, other package, through --wait" "$helper" "$m_good"$'\n'"$evil"$'\n' --wait
refused "signed older version (downgrade)" "$helper" "" "$m_evil" "$evil"
refused "signed older version, through --wait" "$helper" "$m_evil"$'\n'"$evil"$'\n' --wait
refused "signed same version" "$helper" "" "$m_same" "$same"
refused "signed for the rpm channel" "$helper" "" "$m_rpmtier" "$good"
refused "signed, but another package name" "$helper" "" "$m_other" "$other"
refused "signed newer version over an older package" "$helper" "" "$m_evil_as_newer" "$evil"
refused "package is a link" "$helper" "" "$m_evil_as_newer" "$work/link.deb"
run "$helper" "" "$m_evil" "$evil"
check "a downgrade says why" grep -q "offers 0.0.1, not newer than the installed 1.0.3" "$work/err"
rm "$work/installed-version"
refused "no installed pellomar package" "$helper" "" "$m_good" "$good"
echo 1.0.3 > "$work/installed-version"
# The packaged helper trusts the release keys only.
refused "shipped helper, TEST-ONLY signature" "$shipped" "" "$m_good" "$good"
check "the package tools never downgraded or skipped signatures" \
  bash -c "! grep -q -e --allow-downgrades -e --allow-unsigned -e --replacepkgs '$work/calls' 2>/dev/null"

# What is accepted: pellomar, newer, signed, matching.
installed "signed newer package" "pellomar 1.1.0" "$helper" "" "$m_good" "$good"
installed "signed newer package, through --wait" "pellomar 1.1.0" "$helper" "$m_good"$'\n'"$good"$'\n' --wait
check "--wait prints ready first and nothing else" test "$(cat "$work/out")" = ready
check "no private copy is left behind" test -z "$(ls /tmp | grep '^pellomar-install-')"

# rpm: the installed version comes from rpm -q.
mkdir -p "$work/rpm/top"
cat > "$work/rpm/p.spec" <<SPEC
Name: pellomar
Version: 1.1.0
Release: 1
Summary: t
License: none
BuildArch: noarch
%description
t
%files
SPEC
if rpmbuild -bb --quiet --define "_topdir $work/rpm/top" --define "_rpmdir $work/rpm" "$work/rpm/p.spec" >/dev/null 2>&1; then
  rpmfile=$(ls "$work"/rpm/noarch/*.rpm)
  cp "$rpmfile" "$work/update.rpm"
  m_rpm=$(manifest rpm "$testkey" linux-free-rpm 1.1.0 "$work/update.rpm")
  installed "signed newer rpm" "pellomar 1.1.0" "$helper" "" "$m_rpm" "$work/update.rpm"
  echo 1.2.0 > "$work/installed-version"
  refused "signed older rpm (downgrade)" "$helper" "" "$m_rpm" "$work/update.rpm"
  refused "rpm with a deb manifest" "$helper" "" "$m_good" "$work/update.rpm"
else
  fail "rpmbuild could not build the test rpm"
fi

# ---- setup-input: fixed steps, in a private /etc
rm -rf /etc/udev /etc/modules-load.d/pellomar.conf
env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin "$setup" 2> "$work/err"
check "setup-input exits 0" test $? -eq 0
check "rule file written byte for byte" cmp -s /etc/udev/rules.d/70-pellomar.rules "$src/tests/fixtures/update/70-pellomar.rules"
check "rule file mode 0644 root" test "$(stat -c '%a %u' /etc/udev/rules.d/70-pellomar.rules)" = "644 0"
check "module file" test "$(cat /etc/modules-load.d/pellomar.conf)" = uinput
check "steps in order" test "$(cat "$work/setup.log")" = "modprobe uinput
udevadm control --reload-rules
udevadm trigger --action=change --subsystem-match=misc --sysname-match=uinput
udevadm trigger --action=change --subsystem-match=input --sysname-match=event*
udevadm settle --timeout=5"
env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin "$setup" /bin/sh -c 'touch /etc/pwned' 2>/dev/null
check "setup-input takes no commands" test $? -eq 2 -a ! -e /etc/pwned
# A link at the rule file's place is replaced, its target never written.
echo keep > "$work/target"
rm -f /etc/udev/rules.d/70-pellomar.rules
ln -s "$work/target" /etc/udev/rules.d/70-pellomar.rules
: > "$work/setup.log"
touch "$work/fail-modprobe"
env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin "$setup" 2>/dev/null
check "a failing modprobe is not a failure" test $? -eq 0
check "the link is replaced by the rule file" test ! -L /etc/udev/rules.d/70-pellomar.rules -a "$(cat "$work/target")" = keep
touch "$work/fail-udevadm"
env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin "$setup" 2> "$work/err"
check "a failing udevadm fails the setup" test $? -eq 1
check "and says which step" grep -q "udevadm control --reload-rules failed" "$work/err"

[ $failures -eq 0 ] && echo "all root helper checks passed"
exit $((failures > 0))
