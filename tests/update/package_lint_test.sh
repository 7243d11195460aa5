#!/usr/bin/env bash
# What `make package` builds passes the distributions' own checks: lintian
# on the .deb and rpmlint on the .rpm report no error (an unsigned test
# package's no-signature aside), their library dependencies were computed
# rather than written by hand, and both ship the manual page, the bash
# completion, a changelog and the copyright or documentation.
#   package_lint_test.sh SOURCE_DIR BUILD_DIR
set -uo pipefail
src=$1
build=$2
work=$(mktemp -d /tmp/pmr-package-lint-XXXXXX)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
check() { local what=$1; shift; if "$@"; then echo "ok: $what"; else fail "$what"; fi; }

start=$SECONDS
"$src/scripts/package.sh" "$build" "$work/out" >"$work/package.log" 2>&1 || {
  cat "$work/package.log"; echo "FAIL: packaging"; exit 1; }
echo "packed in $((SECONDS - start)) s"
deb=$(ls "$work"/out/pellomar_*_amd64.deb)
rpm=$(ls "$work"/out/pellomar-*.x86_64.rpm)

# ---- the linters: every tag is shown, errors fail
start=$SECONDS
lintian --fail-on error --display-level '>=pedantic' --tag-display-limit 0 "$deb" \
  >"$work/lintian.out" 2>&1
lintian_rc=$?
echo "lintian ($((SECONDS - start)) s):"; sed 's/^/  /' "$work/lintian.out"
check "lintian reports no error" test $lintian_rc -eq 0 -a -z "$(grep '^E: ' "$work/lintian.out")"
start=$SECONDS
rpmlint "$rpm" >"$work/rpmlint.out" 2>&1
echo "rpmlint ($((SECONDS - start)) s):"; sed 's/^/  /' "$work/rpmlint.out"
check "rpmlint checked the package" grep -q '1 packages and 0 specfiles checked' "$work/rpmlint.out"
check "rpmlint reports no error but no-signature" \
  bash -c "! grep ': E: ' '$work/rpmlint.out' | grep -v ': E: no-signature$'"

# ---- computed dependencies
depends=$(dpkg-deb -f "$deb" Depends)
echo "deb Depends: $depends"
check "deb: libc dependency computed by dpkg-shlibdeps" grep -Eq '(^|, )libc6 \(>= [0-9.]+\)' <<<"$depends"
check "deb: WebKitGTK and the tray library computed" \
  bash -c "grep -q 'libwebkit2gtk-4.1-0 (>=' <<<'$depends' && grep -q 'libayatana-appindicator3-1 (>=' <<<'$depends'"
check "deb: pkexec, not the obsolete policykit-1" \
  bash -c "grep -Eq '(^|, )pkexec(,|$)' <<<'$depends' && ! grep -q policykit-1 <<<'$depends'"
requires=$(rpm -qp --requires "$rpm" 2>/dev/null)
check "rpm: libc requirement found by rpm" grep -q '^libc\.so\.6(GLIBC_2\.[0-9.]*)(64bit)$' <<<"$requires"
check "rpm: WebKitGTK requirement found by rpm" grep -q '^libwebkit2gtk-4\.1\.so\.0()(64bit)$' <<<"$requires"
check "rpm: polkit" grep -qx 'polkit' <<<"$requires"

# ---- what both add to the installed tree
deb_files=$(dpkg-deb --contents "$deb" | awk '{print $6}' | sed 's#^\.##')
rpm_files=$(rpm -qlp "$rpm" 2>/dev/null)
for f in /usr/share/man/man1/pellomar.1.gz /usr/share/bash-completion/completions/pellomar; do
  check "deb holds $f" grep -qx "$f" <<<"$deb_files"
  check "rpm holds $f" grep -qx "$f" <<<"$rpm_files"
done
for f in /usr/share/doc/pellomar/copyright /usr/share/doc/pellomar/changelog.gz; do
  check "deb holds $f" grep -qx "$f" <<<"$deb_files"
done
check "rpm holds the README as documentation" grep -Eqx '/usr/share/doc/pellomar(-[0-9.]+)?/README.md' \
  <<<"$(rpm -qdp "$rpm" 2>/dev/null)"
check "rpm has a changelog" grep -q 'Pellomar <support@pellomar.app>' <<<"$(rpm -qp --changelog "$rpm" 2>/dev/null)"
check "rpm names its packager and group" test "$(rpm -qp --queryformat '%{PACKAGER}|%{GROUP}' "$rpm" 2>/dev/null)" = \
  "Pellomar <support@pellomar.app>|Applications/System"

# The manual page is the program's --help: every option of it is there.
dpkg-deb -x "$deb" "$work/x"
man=$(zcat "$work/x/usr/share/man/man1/pellomar.1.gz" | sed 's/\\-/-/g')
version=$(sed -n 's/.*kCurrentVersion = "\([0-9.]*\)".*/\1/p' "$src/update/update_core.h")
check "manual page names the program and version $version" grep -qF "\"pellomar $version " <<<"$(grep '^\.TH PELLOMAR "1" ' <<<"$man")"
options=$("$build/pellomar" --help | grep -o -- '--[a-z][a-z-]*' | sort -u)
check "--help lists options" test -n "$options"
while read -r opt; do
  check "manual page documents $opt" grep -qF -- "$opt" <<<"$man"
done <<<"$options"

[ $failures -eq 0 ] && echo "all package lint checks passed"
exit $((failures > 0))
