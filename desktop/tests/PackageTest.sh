#!/usr/bin/env bash
# Builds the Debian package of a build folder with cpack and checks what a
# Debian 12 system would get: the files and their modes, the declared
# dependencies, and an installation by dpkg into an empty root folder whose
# backend then runs.
#   PackageTest.sh BUILD_DIR
set -euo pipefail
build=$1
skip() { echo "SKIPPED: $*"; exit 77; }
fail() { echo "FAILED: $*"; exit 1; }
for tool in cpack dpkg-deb dpkg dpkg-shlibdeps; do
  command -v "$tool" >/dev/null || skip "$tool is not installed"
done
tmp=$(mktemp -d /tmp/cvpackage-XXXXXX)
trap 'rm -rf "$tmp"' EXIT

(cd "$tmp" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$tmp/out" > "$tmp/cpack.log" 2>&1) ||
  { cat "$tmp/cpack.log"; fail "cpack"; }
deb=$(ls "$tmp"/out/corvane_*.deb)
echo "package: $(basename "$deb")"

contents=$(dpkg-deb -c "$deb")
has() {  # mode owner path
  echo "$contents" | awk -v m="$1" -v o="$2" -v p="./$3" '$1 == m && $2 == o && $6 == p { f = 1 } END { exit !f }' ||
    fail "no $1 $2 $3 in the package"
}
for p in corvane apftool cvfax cvmodemline; do has -rwxr-xr-x root/root "usr/bin/$p"; done
# Only root may run the backend: the print system then runs it as root.
has -rwx------ root/root usr/lib/cups/backend/corvane
has -rwxr-xr-x root/root usr/sbin/corvane-install-printer
has -rwxr-xr-x root/root usr/sbin/corvane-remove-printer
has -rw-r--r-- root/root usr/share/applications/corvane.desktop
has -rw-r--r-- root/root usr/share/icons/hicolor/scalable/apps/corvane.svg
has -rw-r--r-- root/root usr/share/mime/packages/corvane.xml
has -rw-r--r-- root/root usr/share/doc/corvane/README.md
if echo "$contents" | awk '{ print $1 }' | grep -q '^.......\(..w\|.w.\)'; then
  fail "a file writable by group or others"
fi

depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for d in libqt6widgets6 libqt6printsupport6 libpoppler-cpp0v5 libtiff6 libspandsp2 libcups2 ghostscript fonts-liberation; do
  echo "$depends" | grep -q "\b$d\b" || fail "Depends lacks $d"
done
[ "$(dpkg-deb -f "$deb" Package)" = corvane ] || fail "package name"

# dpkg installs it into an empty root (dependencies are those of the host).
root=$tmp/root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
touch "$root/var/lib/dpkg/status"
dpkg --root="$root" --force-depends --force-not-root --force-script-chrootless -i "$deb" > "$tmp/dpkg.log" 2>&1 ||
  { cat "$tmp/dpkg.log"; fail "dpkg -i"; }
dpkg --root="$root" -s corvane | grep -q '^Status: install ok installed' || fail "not installed"
line=$("$root/usr/lib/cups/backend/corvane")
echo "$line" | grep -q '^direct corvane:/ ' || fail "the installed backend printed '$line'"
echo PASSED
