#!/usr/bin/env bash
# Builds the .deb and the .rpm of the program from a build directory:
#   scripts/package.sh BUILD_DIR OUT_DIR
# Both install the program under /usr/lib/pellomar (its resource directory:
# page bundles, the root helpers update-install and setup-input,
# package-type), a command in /usr/bin, the desktop entry, the icon, the
# AppStream metainfo and the polkit actions of the root helpers. The metadata
# is validated before anything is packed.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
mkdir -p "$2"
out=$(cd "$2" && pwd)
version=$(sed -n 's/.*kCurrentVersion = "\([0-9.]*\)".*/\1/p' "$here/update/update_core.h")
[ -n "$version" ] || { echo "no version found" >&2; exit 1; }
app_id=app.pellomar.free

desktop-file-validate "$here/data/$app_id.desktop"
appstreamcli validate --no-net --explain "$here/data/$app_id.metainfo.xml"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The installed tree, with package-type saying which tool updates it.
stage() {  # root type
  local root=$1 type=$2 lib=$1/usr/lib/pellomar
  install -d "$lib" "$root/usr/bin" "$root/usr/share/applications" \
    "$root/usr/share/icons/hicolor/scalable/apps" "$root/usr/share/metainfo" "$root/usr/share/polkit-1/actions"
  install -m 0755 "$build/pellomar" "$lib/pellomar"
  strip --strip-unneeded "$lib/pellomar"
  cp -r "$build/ui" "$build/linux-ui" "$lib/"
  find "$lib/ui" "$lib/linux-ui" -type d -exec chmod 0755 {} + -o -type f -exec chmod 0644 {} +
  for helper in update-install setup-input; do
    install -m 0755 "$build/$helper" "$lib/$helper"
    strip --strip-unneeded "$lib/$helper"
  done
  install -m 0644 "$here/data/polkit/$app_id.policy" "$root/usr/share/polkit-1/actions/$app_id.policy"
  echo "$type" > "$lib/package-type"
  chmod 0644 "$lib/package-type"
  ln -s ../lib/pellomar/pellomar "$root/usr/bin/pellomar"
  install -m 0644 "$here/data/$app_id.desktop" "$root/usr/share/applications/$app_id.desktop"
  install -m 0644 "$here/data/icons/pellomar.svg" "$root/usr/share/icons/hicolor/scalable/apps/pellomar.svg"
  install -m 0644 "$here/data/$app_id.metainfo.xml" "$root/usr/share/metainfo/$app_id.metainfo.xml"
  install -D -m 0644 "$here/data/pellomar.bash" "$root/usr/share/bash-completion/completions/pellomar"
}

# ---- .deb
deb=$work/deb
stage "$deb" deb
install -d "$deb/DEBIAN"
size=$(du -sk --exclude=DEBIAN "$deb" | cut -f1)
cat > "$deb/DEBIAN/control" <<CONTROL
Package: pellomar
Version: $version
Architecture: amd64
Maintainer: Pellomar <support@pellomar.app>
Installed-Size: $size
Depends: libgtk-3-0, libwebkit2gtk-4.1-0, libjavascriptcoregtk-4.1-0, libcurl4, libssl3, libpipewire-0.3-0, libwayland-client0, libx11-6, libxi6, libxtst6, libayatana-appindicator3-1, libglib2.0-0, libcairo2, policykit-1 | pkexec
Section: utils
Priority: optional
Homepage: https://pellomar.app/
Description: auto clicker, key spammer and macro recorder
 Pellomar automates mouse and keyboard input on X11 and Wayland desktops,
 with global hotkeys that work while other applications have the focus.
CONTROL
dpkg-deb --root-owner-group -Zxz --build "$deb" "$out/pellomar_${version}_amd64.deb" >/dev/null

# ---- .rpm
rpmroot=$work/rpm
stage "$rpmroot/root" rpm
install -d "$rpmroot/top"
cat > "$rpmroot/pellomar.spec" <<SPEC
Name: pellomar
Version: $version
Release: 1
Summary: Auto clicker, key spammer and macro recorder
License: LicenseRef-proprietary
URL: https://pellomar.app/
BuildArch: x86_64
AutoProv: no
# Debian's libcurl versions its symbols; other distributions' libcurl.so.4
# does not, so only the library itself is required.
%global __requires_exclude ^libcurl\\\\.so\\\\.4\\\\(CURL_OPENSSL
Requires: polkit

%description
Pellomar automates mouse and keyboard input on X11 and Wayland desktops,
with global hotkeys that work while other applications have the focus.

%install
cp -a "$rpmroot/root/." "%{buildroot}/"

%files
%dir /usr/lib/pellomar
/usr/lib/pellomar/pellomar
/usr/lib/pellomar/update-install
/usr/lib/pellomar/setup-input
/usr/lib/pellomar/package-type
/usr/lib/pellomar/ui
/usr/lib/pellomar/linux-ui
/usr/bin/pellomar
/usr/share/applications/$app_id.desktop
/usr/share/icons/hicolor/scalable/apps/pellomar.svg
/usr/share/metainfo/$app_id.metainfo.xml
/usr/share/polkit-1/actions/$app_id.policy
/usr/share/bash-completion/completions/pellomar
SPEC
rpmbuild -bb --quiet --define "_topdir $rpmroot/top" --define "_rpmdir $out" \
  --define "_build_id_links none" --define "__strip /bin/true" --define "debug_package %{nil}" \
  --define "_binary_payload w6.xzdio" "$rpmroot/pellomar.spec" >/dev/null
mv "$out/x86_64/pellomar-$version-1.x86_64.rpm" "$out/"
rmdir "$out/x86_64" 2>/dev/null || true
echo "$out/pellomar_${version}_amd64.deb"
echo "$out/pellomar-$version-1.x86_64.rpm"
