#!/usr/bin/env bash
# The fax printer end to end: a private print server (its own configuration,
# spool and socket in a temporary folder, in the foreground), the backend and
# queue installed by scripts/install-printer, a document printed with lp by a
# user made for the test, and the job found in that user's job folder while
# lpstat lists it completed. Skips (exit 77) with the reason when the server
# cannot run here.
#   PrintQueueTest.sh BACKEND SOURCE_DIR
set -euo pipefail
backend=$1
src=$2
skip() { echo "SKIPPED: $*"; exit 77; }
[ "$(id -u)" = 0 ] || skip "needs root to run a print server and make a user"
command -v cupsd >/dev/null || skip "cupsd is not installed"
command -v lpadmin >/dev/null || skip "lpadmin is not installed"

tmp=$(mktemp -d /tmp/cvqueue-XXXXXX)
user=cvq$$
cupspid=
cleanup() {
  if [ -n "$cupspid" ]; then kill "$cupspid" 2>/dev/null || true; wait "$cupspid" 2>/dev/null || true; fi
  userdel "$user" 2>/dev/null || true
  if [ -z "${CORVANE_KEEP_TEST_DIRS:-}" ]; then rm -rf "$tmp"; fi
}
trap cleanup EXIT

mkdir -p "$tmp"/{conf,bin/backend,state,cache,spool/tmp,log,home}
chmod 0755 "$tmp" "$tmp/bin" "$tmp/bin/backend"
for d in /usr/lib/cups/*; do
  [ "$(basename "$d")" = backend ] || ln -s "$d" "$tmp/bin/$(basename "$d")"
done
chown root:lp "$tmp/spool" "$tmp/spool/tmp" "$tmp/cache" "$tmp/state"
chmod 0710 "$tmp/spool"; chmod 1770 "$tmp/spool/tmp"; chmod 0770 "$tmp/cache" "$tmp/state"
sock=$tmp/cups.sock
cat > "$tmp/conf/cups-files.conf" <<CONF
ServerRoot $tmp/conf
ServerBin $tmp/bin
StateDir $tmp/state
CacheDir $tmp/cache
RequestRoot $tmp/spool
TempDir $tmp/spool/tmp
ErrorLog $tmp/log/error_log
AccessLog $tmp/log/access_log
PageLog $tmp/log/page_log
SystemGroup root
FileDevice No
CONF
cat > "$tmp/conf/cupsd.conf" <<CONF
LogLevel debug
Listen $sock
Browsing No
WebInterface No
DefaultAuthType None
<Location />
  Order allow,deny
  Allow all
</Location>
<Policy default>
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
CONF

cupsd -f -c "$tmp/conf/cupsd.conf" -s "$tmp/conf/cups-files.conf" &
cupspid=$!
export CUPS_SERVER=$sock
for _ in $(seq 100); do
  [ -S "$sock" ] && lpstat -r >/dev/null 2>&1 && break
  kill -0 "$cupspid" 2>/dev/null || skip "cupsd did not start: $(tail -3 "$tmp/log/error_log" 2>/dev/null)"
  sleep 0.1
done
lpstat -r >/dev/null 2>&1 || skip "cupsd does not answer on $sock"

CUPS_SERVERBIN=$tmp/bin "$src/scripts/install-printer" "$backend"
[ "$(stat -c '%a %U' "$tmp/bin/backend/corvane")" = "700 root" ] || { echo "backend not installed 0700 root"; exit 1; }
lpstat -p Corvane

# The printing user, with a Corvane program folder and its CVPD.INI.
home=$tmp/home
useradd -M -U -s /usr/sbin/nologin -d "$home" "$user"
mkdir -p "$home/.config/corvane" "$home/corvane/SEND"
printf '[Location]\r\nCVOutPath=%s/corvane/SEND/\r\n' "$home" > "$home/.config/corvane/CVPD.INI"
chown -R "$user:$user" "$home"
chmod 0700 "$home"

pdf=$tmp/letter.pdf
"$src/printer/tests/make-test-pdf.sh" > "$pdf"
chmod 0644 "$pdf"
id=$(runuser -u "$user" -- lp -d Corvane -t "Quarterly report" -o fax-number=555-0142 -o "fax-to='Ann Smith'" "$pdf")
echo "$id"
job=$(echo "$id" | sed -n 's/^request id is \(Corvane-[0-9]*\).*/\1/p')
[ -n "$job" ] || { echo "lp gave no job id"; exit 1; }

for _ in $(seq 300); do
  if lpstat -W completed -o Corvane | grep -q "^$job "; then break; fi
  sleep 0.2
done
lpstat -W completed -o Corvane
if ! lpstat -W completed -o Corvane | grep -q "^$job "; then
  echo "job $job did not complete"; lpstat -l -o Corvane || true; tail -40 "$tmp/log/error_log"; exit 1
fi
ls -l "$home/corvane/SEND"
[ -f "$home/corvane/SEND/PD00000.APF" ] || { echo "no fax image in the job folder"; tail -40 "$tmp/log/error_log"; exit 1; }
[ "$(head -c 5 "$home/corvane/SEND/PD00000.APF")" = APF10 ] || { echo "the image is not an APF file"; exit 1; }
[ "$(stat -c %U "$home/corvane/SEND/PD00000.APF")" = "$user" ] || { echo "the image is not the user's"; exit 1; }
expected=$(printf '555-0142\r\nAnn Smith\r\nQuarterly report\r\n')
[ "$(cat "$home/corvane/SEND/PD00000.ZRD")" = "$expected" ] || { echo "wrong description:"; cat -A "$home/corvane/SEND/PD00000.ZRD"; exit 1; }

CUPS_SERVERBIN=$tmp/bin "$src/scripts/remove-printer"
if lpstat -p Corvane >/dev/null 2>&1; then echo "queue still there"; exit 1; fi
[ ! -e "$tmp/bin/backend/corvane" ] || { echo "backend still there"; exit 1; }
echo "PASSED"
