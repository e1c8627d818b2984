#!/usr/bin/env bash
# The desktop entry passes desktop-file-validate, and once the file type and
# the entry are installed in a temporary XDG data folder, the desktop names
# the APF type for a fax image (by its first bytes, and by its extension in
# any letter case) and Corvane as the program that opens it.
#   DesktopFilesTest.sh DESKTOP_SOURCE_DIR
set -euo pipefail
src=$1
skip() { echo "SKIPPED: $*"; exit 77; }
for tool in desktop-file-validate update-mime-database update-desktop-database xdg-mime gio; do
  command -v "$tool" >/dev/null || skip "$tool is not installed"
done
tmp=$(mktemp -d /tmp/cvdesktop-XXXXXX)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAILED: $*"; exit 1; }

out=$(desktop-file-validate "$src/corvane.desktop" 2>&1) || fail "desktop-file-validate: $out"
echo "$out" | grep -qiE 'error|warning' && fail "desktop-file-validate: $out"
grep -q '^Categories=Office;Telephony;$' "$src/corvane.desktop" || fail "categories"

export XDG_DATA_HOME=$tmp/share XDG_DATA_DIRS=/usr/share XDG_CONFIG_HOME=$tmp/config
# xdg-mime asks the desktop's own tool; gio reads the shared MIME database.
export XDG_CURRENT_DESKTOP=GNOME
mkdir -p "$XDG_DATA_HOME/mime/packages" "$XDG_DATA_HOME/applications" "$XDG_CONFIG_HOME"
cp "$src/corvane.xml" "$XDG_DATA_HOME/mime/packages/"
update-mime-database "$XDG_DATA_HOME/mime"
cp "$src/corvane.desktop" "$XDG_DATA_HOME/applications/"
update-desktop-database "$XDG_DATA_HOME/applications"

printf 'APF10\032' > "$tmp/fax.bin"
head -c 200 /dev/zero >> "$tmp/fax.bin"
cp "$tmp/fax.bin" "$tmp/FAX00001.APF"
printf 'plain text\n' > "$tmp/note.txt"
printf 'APF1' > "$tmp/almost.bin"
for f in fax.bin FAX00001.APF; do
  type=$(xdg-mime query filetype "$tmp/$f")
  [ "$type" = image/x-corvane-apf ] || fail "$f is $type"
done
for f in note.txt almost.bin; do
  type=$(xdg-mime query filetype "$tmp/$f")
  [ "$type" != image/x-corvane-apf ] || fail "$f taken for a fax image"
done
handler=$(xdg-mime query default image/x-corvane-apf)
[ "$handler" = corvane.desktop ] || fail "the APF type opens with '$handler'"
echo PASSED
