#!/usr/bin/env bash
# Starts the real program in an empty folder, checks the settings file it
# creates, then ends it with SIGTERM and checks the login was saved.
set -euo pipefail
program=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir"

expected=$'[Main]\nLogin=\nPassword=\n[Options]\nSavePassword=FALSE\nAttemptReconnect=FALSE\nMinimizeOnStartUp=FALSE\nConnectOnStartUp=FALSE\nRefreshInterval=5\nConnectRetryInterval=5'
"$program" &
pid=$!
# The first start writes its eight keys one replacement at a time: wait for the
# last one rather than for any content.
for _ in $(seq 200); do
    grep -q '^ConnectRetryInterval=' kestrome.cfg 2>/dev/null && break
    sleep 0.05
done
if [ "$(cat kestrome.cfg)" != "$expected" ]; then
    echo "unexpected settings file:"; cat kestrome.cfg; kill "$pid"; exit 1
fi
[ "$(stat -c %a kestrome.cfg)" = 600 ] || { echo "settings file mode is not 600"; kill "$pid"; exit 1; }

# A login typed earlier and saved by the program is written again at SIGTERM.
sed -i 's/^Login=$/Login=demo/' kestrome.cfg
kill -TERM "$pid"
status=0
wait "$pid" || status=$?
[ "$status" -eq 0 ] || { echo "exit status $status after SIGTERM"; exit 1; }
grep -qx 'Login=' kestrome.cfg || { echo "the login field was not written at SIGTERM"; cat kestrome.cfg; exit 1; }
echo "first start and SIGTERM: ok"
