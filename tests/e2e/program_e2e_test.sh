#!/usr/bin/env bash
# The real program (built to take the service's address from the
# environment) against the real service on a free port: connecting at start-up with a saved login and password records the
# address, and SIGTERM ends the program with the settings file intact.
set -euo pipefail
program=$1 service=$2
dir=$(mktemp -d)
cleanup() { kill "${app:-}" "${svc:-}" 2>/dev/null || true; rm -rf "$dir"; }
trap cleanup EXIT
cd "$dir"
fail() { echo "FAILED: $*"; echo "--- service log"; cat service.log; exit 1; }

printf 'secret\n' | "$service" --db service.db --hash-strength minimum user add alice >/dev/null
# A random free port; another one when it was taken meanwhile.
for _ in 1 2 3 4 5; do
    port=$((20000 + RANDOM % 40000))
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && continue
    "$service" serve --listen "127.0.0.1:$port" --db service.db 2>service.log & svc=$!
    for _ in $(seq 100); do
        grep -q listening service.log && break
        kill -0 "$svc" 2>/dev/null || break
        sleep 0.1
    done
    grep -q listening service.log && break
done
grep -q listening service.log || fail "the service did not start"
KESTROME_TEST_SERVICE_HOST=127.0.0.1:$port
export KESTROME_TEST_SERVICE_HOST

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
