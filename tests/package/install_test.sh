#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the Debian package on this machine, checks that only the helper carries a capability
# and that the installed program starts for an ordinary user and logs where that user may write,
# then removes the package again. A copy that a killed run of this test left installed is
# removed first.
set -euo pipefail
deb=$1
version=$2

if [ "$(id -u)" -ne 0 ]; then
  echo "skipped: installing a package needs root"
  exit 77
fi
if dpkg -s tarnvik >/dev/null 2>&1; then
  echo "removing the tarnvik package that is installed here (left by an earlier run?)"
  dpkg --purge tarnvik
fi

home=$(mktemp -d)
trap 'dpkg --purge tarnvik >/dev/null 2>&1 || true; dpkg-statoverride --remove /usr/bin/tarnvik-hold >/dev/null 2>&1 || true; rm -rf "$home"' EXIT

# Everything under /usr, whatever prefix the build had (nothing under /usr/local), but for the
# session's autostart entry, which the XDG rules keep in /etc.
if dpkg-deb -c "$deb" | awk '{print $6}' | grep -v '^\./usr/' |
  grep -vxE '\./|\./etc/|\./etc/xdg/|\./etc/xdg/autostart/|\./etc/xdg/autostart/tarnvik\.desktop'; then
  echo "the package installs outside /usr"
  exit 1
fi
# A system that cannot give the capability (a file system without security attributes: setcap
# fails) gets a warning, not a half-configured package.
control=$(mktemp -d)
dpkg-deb -e "$deb" "$control"
mkdir "$control/bin"
printf '#!/bin/sh\nexit 1\n' >"$control/bin/setcap"
chmod +x "$control/bin/setcap"
warning=$(env PATH="$control/bin:$PATH" /bin/sh "$control/postinst" configure 2>&1)
rm -rf "$control"
grep -q "could not give /usr/bin/tarnvik-flush the capability" <<<"$warning"

dpkg -i "$deb"
getcap /usr/bin/tarnvik-flush | grep -q "cap_net_admin=ep"
getcap /usr/bin/tarnvik-hold | grep -q "cap_net_admin=ep"
getcap /usr/bin/tarnvik-arp | grep -q "cap_net_raw=ep"
# The guard's helper is for its group alone.
test "$(stat -c '%a %U %G' /usr/bin/tarnvik-hold)" = "750 root tarnvik"
if [ -n "$(getcap /usr/bin/tarnvik)" ]; then
  echo "the window must carry no capability"
  exit 1
fi
test -f /usr/share/applications/tarnvik.desktop
# The collector's command reads standard input: nothing read is no attack.
echo '{}' | /usr/bin/tarnvik-report --csv | grep -qx "attacker,impersonated,desk_count,desks,held,first,last,going"
# ...and all of it, past the first read of a pipe.
for _ in $(seq 1000); do
  echo '{"time":"2026-12-08T10:00:00Z","host":"d","verdict":"x","pad":"'"$(printf '%0200d' 0)"'"}'
done | /usr/bin/tarnvik-report --json | grep -q '"records":1000,'
test -f /usr/share/icons/hicolor/16x16/apps/tarnvik.png
# Every session starts the autostart entry; with no configuration asking, it ends at once, silently.
grep -q "^Exec=tarnvik --autostart$" /etc/xdg/autostart/tarnvik.desktop
test -z "$(setpriv --reuid=65534 --regid=65534 --clear-groups env -i HOME="$home" \
  timeout 3 /usr/bin/tarnvik --autostart 2>&1)"

chown 65534:65534 "$home"
rc=0
output=$(setpriv --reuid=65534 --regid=65534 --clear-groups \
  env -i HOME="$home" XDG_RUNTIME_DIR="$home" QT_QPA_PLATFORM=offscreen \
  timeout 3 /usr/bin/tarnvik 2>&1) || rc=$?
echo "$output"
if [ "$rc" -ne 124 ]; then
  echo "the installed program ended by itself (exit $rc) instead of running"
  exit 1
fi
grep -q "the attack log is $home/.local/state/tarnvik/arp_log.log" <<<"$output"
# Root may write under /usr, yet the installed program logs to /var/log.
output=$(env -i QT_QPA_PLATFORM=offscreen timeout 3 /usr/bin/tarnvik 2>&1) || true
grep -q "the attack log is /var/log/tarnvik/arp_log.log" <<<"$output"
test "$(/usr/bin/tarnvik --version)" = "tarnvik $version"
echo "package installs; helper has cap_net_admin; program runs as an ordinary user"
