#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The shipped rsyslog files, on 127.0.0.1 alone: a desk's rsyslogd follows two users' and root's
# arp_evidence.jsonl and sends them over RELP and TLS to a collector's rsyslogd, with certificates
# made by the shipped script. Both files pass rsyslogd -N1; every record arrives once, whole and
# as written, in the file of all desks and the desk's own, also across a 10 s collector outage
# and a restart of the desk's rsyslogd.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
tmp=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$tmp"
}
trap cleanup EXIT
port=$((21000 + $$ % 2000))

bash "$here/packaging/rsyslog/tarnvik-certificates" "$tmp/certs" 127.0.0.1 desk >/dev/null
cp "$tmp/certs/desk/"* "$tmp/certs/"
# The shipped files with this test's paths and the collector's name.
place() {
  sed -e "s|/etc/rsyslog.d/tarnvik/|$tmp/certs/|g" -e "s|/home/\*/|$tmp/home/*/|" \
    -e "s|/var/log/tarnvik/|$tmp/root-log/|" -e "s|/var/log/tarnvik-collector/|$tmp/collector/|g" \
    -e "s|collector.example.net|127.0.0.1|" -e "s|2514|$port|" \
    "$here/packaging/rsyslog/$1.conf" >"$tmp/$1.conf"
  mkdir -p "$tmp/$1-work"
  printf 'global(workDirectory="%s")\ninclude(file="%s")\n' "$tmp/$1-work" "$tmp/$1.conf" \
    >"$tmp/$1-main.conf"
  rsyslogd -N1 -f "$tmp/$1-main.conf"
}
mkdir -p "$tmp/home/ana/.local/state/tarnvik" "$tmp/home/bo/.local/state/tarnvik" "$tmp/root-log"
place tarnvik-collector
place tarnvik-desk
start() { # NAME: runs that rsyslogd in the foreground, in the background
  rsyslogd -n -f "$tmp/$1-main.conf" -i "$tmp/$1.pid" 2>>"$tmp/$1.err" &
  pids+=($!)
  eval "${1//-/_}=$!"
}
stop() { kill "$1" && wait "$1" 2>/dev/null || true; }

written=0
write() { # FILE COUNT: records as the program writes them, one of them with escaped text
  for ((i = 0; i < $2; i++)); do
    written=$((written + 1))
    printf '{"time":"2026-12-08T10:00:00+00:00","host":"desk","n":%d,"probed":"a\\tb \\"q\\" \\u00e4"}\n' \
      "$written" >>"$1"
  done
}
arrived() { [ -f "$tmp/collector/all.jsonl" ] && wc -l <"$tmp/collector/all.jsonl" || echo 0; }
wait_for() { # COUNT
  for _ in $(seq 1 300); do
    [ "$(arrived)" -ge "$1" ] && return 0
    sleep 0.1
  done
  echo "only $(arrived) of $1 records arrived"; cat "$tmp"/*.err; exit 1
}

start tarnvik-collector
start tarnvik-desk
sleep 1
write "$tmp/home/ana/.local/state/tarnvik/arp_evidence.jsonl" 100
write "$tmp/home/bo/.local/state/tarnvik/arp_evidence.jsonl" 50
write "$tmp/root-log/arp_evidence.jsonl" 5
wait_for "$written"

# The collector away for 10 s while records come in; then the desk's rsyslogd away while more do.
stop "$tarnvik_collector"
write "$tmp/home/ana/.local/state/tarnvik/arp_evidence.jsonl" 100
sleep 10
start tarnvik-collector
wait_for "$written"
stop "$tarnvik_desk"
write "$tmp/home/bo/.local/state/tarnvik/arp_evidence.jsonl" 20
start tarnvik-desk
wait_for "$written"
sleep 2

# Every record once, each line exactly as written, in both files.
expected=$(cat "$tmp/home"/*/.local/state/tarnvik/arp_evidence.jsonl "$tmp/root-log/arp_evidence.jsonl" | sort)
for file in "$tmp/collector/all.jsonl" "$tmp/collector/desks/"*.jsonl; do
  if [ "$(sort "$file")" != "$expected" ]; then
    echo "$file differs from what the desk wrote:"
    diff <(echo "$expected") <(sort "$file") | head -5
    exit 1
  fi
done
[ "$(ls "$tmp/collector/desks")" = "$(hostname).jsonl" ] || { ls "$tmp/collector/desks"; exit 1; }
echo "relay: $written records, each once, across a collector outage and a desk restart"
