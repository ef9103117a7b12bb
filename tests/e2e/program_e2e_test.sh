#!/usr/bin/env bash
# The real program (built for the test service address) against the real
# service: connecting at start-up with a saved login and password records the
# address, and SIGTERM ends the program with the settings file intact.
set -euo pipefail
program=$1 service=$2 port=$3
dir=$(mktemp -d)
cleanup() { kill "${app:-}" "${svc:-}" 2>/dev/null || true; rm -rf "$dir"; }
trap cleanup EXIT
cd "$dir"
fail() { echo "FAILED: $*"; echo "--- service log"; cat service.log; exit 1; }

printf 'secret\n' | "$service" --db service.db --hash-strength minimum user add alice >/dev/null
"$service" serve --listen "127.0.0.1:$port" --db service.db 2>service.log & svc=$!
for _ in $(seq 100); do grep -q listening service.log && break; sleep 0.1; done
grep -q listening service.log || fail "the service did not start"

printf '[Main]\nLogin=alice\nPassword=secret\n[Options]\nSavePassword=TRUE\nAttemptReconnect=FALSE\nMinimizeOnStartUp=FALSE\nConnectOnStartUp=TRUE\nRefreshInterval=5\nConnectRetryInterval=5\n' > kestrome.cfg
cp kestrome.cfg expected.cfg
"$program" & app=$!
for _ in $(seq 100); do grep -q 'login="alice" reply=100' service.log && break; sleep 0.1; done
grep -q 'login="alice" reply=100' service.log || fail "the program did not connect at start-up"
"$service" --db service.db user list | grep -E '^alice +no +127\.0\.0\.1 ' >/dev/null ||
    fail "the service did not record 127.0.0.1 for alice"

kill -TERM "$app"
status=0
wait "$app" || status=$?
app=
[ "$status" -eq 0 ] || fail "exit status $status after SIGTERM"
cmp -s kestrome.cfg expected.cfg || { diff expected.cfg kestrome.cfg; fail "the settings file changed"; }
echo "connect at start-up against the real service, then SIGTERM: ok"
