#!/usr/bin/env bash
# Builds the .deb and the .rpm of the program from a built build directory,
# with the distributions' own tools:
#   scripts/package.sh BUILD_DIR OUT_DIR
# dpkg-buildpackage (debian/) and rpmbuild (packaging/pellomar.rpmbuild) each pack
# what the CMake install rules (packaging/install.cmake) install from
# BUILD_DIR: the program, its page bundles and the root helpers update-install
# and setup-input in /usr/lib/pellomar, a command in /usr/bin, the desktop
# entry, the icon, the AppStream metainfo, the polkit actions of the root
# helpers, the manual page and the bash completion. Library dependencies are
# computed by dpkg-shlibdeps and by rpm. The metadata is validated before
# anything is packed. Prints the paths of the two packages.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
mkdir -p "$2"
out=$(cd "$2" && pwd)
version=$(sed -n 's/.*kCurrentVersion = "\([0-9.]*\)".*/\1/p' "$here/update/update_core.h")
[ -n "$version" ] || { echo "no version found" >&2; exit 1; }
app_id=app.pellomar.free

# The version lives in update/update_core.h; each changelog must start with
# an entry for it.
deb_version=$(dpkg-parsechangelog -l "$here/debian/changelog" -S Version)
[ "$deb_version" = "$version" ] || {
  echo "debian/changelog starts at $deb_version, the program is $version: add an entry for $version" >&2; exit 1; }
rpm_version=$(sed -n '/^%changelog/{n;s/.* - \([0-9.]*\)-[0-9]*$/\1/p;q}' "$here/packaging/pellomar.rpmbuild")
[ "$rpm_version" = "$version" ] || {
  echo "the %changelog of packaging/pellomar.rpmbuild starts at $rpm_version, the program is $version: add an entry for $version" >&2; exit 1; }
for f in pellomar update-install setup-input gen/pellomar.1; do
  [ -e "$build/$f" ] || { echo "$build/$f is missing: build first (make build)" >&2; exit 1; }
done

desktop-file-validate "$here/data/$app_id.desktop"
appstreamcli validate --no-net --explain "$here/data/$app_id.metainfo.xml"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A copy of the source tree: both tools write beside and into it.
src=$work/pellomar-$version
mkdir "$src"
tar -C "$here" --exclude-vcs --exclude='./build*' --exclude='./obj-*' --exclude=__pycache__ \
  --exclude="./$(realpath --relative-to="$here" "$build")" -cf - . | tar -C "$src" -xf -

# ---- .rpm (packed first: the tarball is the untouched copy)
install -d "$work/rpm/SOURCES"
tar -C "$work" -czf "$work/rpm/SOURCES/pellomar-$version.tar.gz" "pellomar-$version"
# Debian keeps no rpm database of the build dependencies (--nodeps) nor
# rpm's debuginfo tools (no debug package: stripped as installed).
rpmbuild -bb --quiet --nodeps --define "_topdir $work/rpm" --define "_rpmdir $work/rpm/out" \
  --define "pmr_version $version" --define "pmr_build_dir $build" --define "pmr_strip 1" \
  --define "debug_package %{nil}" --define "_build_id_links none" \
  "$src/packaging/pellomar.rpmbuild" >"$work/rpmbuild.log" 2>&1 || { cat "$work/rpmbuild.log" >&2; exit 1; }
mv "$work/rpm/out/x86_64/pellomar-$version-1.x86_64.rpm" "$out/"

# ---- .deb
(cd "$src" && PMR_BUILD_DIR=$build DEB_BUILD_OPTIONS=noddebs dpkg-buildpackage -us -uc -b) \
  >"$work/dpkg-buildpackage.log" 2>&1 || { cat "$work/dpkg-buildpackage.log" >&2; exit 1; }
mv "$work/pellomar_${version}_amd64.deb" "$out/"

echo "$out/pellomar_${version}_amd64.deb"
echo "$out/pellomar-$version-1.x86_64.rpm"
