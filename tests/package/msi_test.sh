#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The Windows MSI package under Wine, in a copy of a prepared prefix with a session of its own:
# a silent install of the previous version, the upgrade to this one (one copy left), a rebuild of
# this version installed over it (still one copy), the event source's key, and the removal, which takes the program and the key and keeps a log beside it.
#   msi_test.sh PREFIX PREVIOUS.msi PREVIOUS_VERSION CURRENT.msi CURRENT_VERSION
set -euo pipefail
source_prefix=$1
previous=$2
previous_version=$3
current=$4
current_version=$5
session="$(dirname "$0")/../../tools/wine-session"
prefix=$(dirname "$source_prefix")/msi

# A session that a killed run left behind goes before its prefix does.
bash "$session" stop "$prefix"
rm -rf "$prefix"
cp -a "$source_prefix" "$prefix"
trap 'bash "$session" stop "$prefix"; rm -rf "$prefix"' EXIT
bash "$session" start "$prefix"

wine() { bash "$session" run "$prefix" "$@" </dev/null; }
windows_path() { echo "Z:${1//\//\\}"; }
installed="$prefix/drive_c/Program Files/Tarnvik"
key='HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\Tarnvik'
fail() {
  echo "msi: $*" >&2
  exit 1
}
# The installed program's answer to --version, on its standard error.
version_of_installed() { wine 'C:\Program Files\Tarnvik\tarnvik.exe' --version 2>&1 | tr -d '\r'; }

wine msiexec /i "$(windows_path "$previous")" /qn || fail "install of $previous failed: $?"
version_of_installed | grep -qx "tarnvik $previous_version" || fail "previous version not installed"
wine msiexec /i "$(windows_path "$current")" /qn || fail "upgrade to $current failed: $?"
version_of_installed | grep -qx "tarnvik $current_version" || fail "not upgraded: $(version_of_installed)"
copies=$(wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s | tr -d '\r' |
  grep -c 'DisplayName *REG_SZ *Tarnvik$' || true)
[ "$copies" = 1 ] || fail "$copies installed copies after the upgrade"
# Another build of the same version: new product and package codes, as every build has.
rebuilt=$prefix/rebuilt.msi
cp "$current" "$rebuilt"
msibuild "$rebuilt" -q "UPDATE Property SET Value = '{$(tr a-z A-Z </proc/sys/kernel/random/uuid)}' \
  WHERE Property = 'ProductCode'"
msibuild "$rebuilt" -s "Installation Database" "The Tarnvik developers" "x64;1033" \
  "{$(tr a-z A-Z </proc/sys/kernel/random/uuid)}"
wine msiexec /i "$(windows_path "$rebuilt")" /qn || fail "install of a rebuild failed: $?"
current=$rebuilt
copies=$(wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s | tr -d '\r' |
  grep -c 'DisplayName *REG_SZ *Tarnvik$' || true)
[ "$copies" = 1 ] || fail "$copies installed copies after a rebuild of the same version"
wine reg query "$key" /v EventMessageFile | tr -d '\r' |
  grep -q 'REG_EXPAND_SZ *C:\\Program Files\\Tarnvik\\tarnvik.exe$' || fail "no event source"
wine reg query "$key" /v TypesSupported | grep -q 'REG_DWORD *0x7' || fail "no TypesSupported"
# Wine files a per-machine shortcut under the user's Start menu; Windows under all users'.
menu='Microsoft/Windows/Start Menu/Programs/Tarnvik.lnk'
compgen -G "$prefix/drive_c/users/*/AppData/Roaming/$menu" >/dev/null ||
  [ -f "$prefix/drive_c/ProgramData/$menu" ] || fail "no Start-menu shortcut"

# An elevated run keeps its logs beside the program: the removal leaves them.
printf 'log line\r\n' >"$installed/arp_log.log"
wine msiexec /x "$(windows_path "$current")" /qn || fail "removal failed: $?"
[ ! -e "$installed/tarnvik.exe" ] || fail "tarnvik.exe is still there after the removal"
[ "$(cat "$installed/arp_log.log")" = $'log line\r' ] || fail "the log went with the removal"
if wine reg query "$key" >/dev/null 2>&1; then
  fail "the event source's key is still there after the removal"
fi
echo "msi: installed, upgraded from $previous_version to $current_version, removed; the log kept"
