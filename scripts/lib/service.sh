# Shared by the run and demo scripts: the run/ folder with the service's
# database and its demo account, and starting and stopping the service.
# Expects $top (the repository) and $build (the build folder, relative to $top).

service_bin() { echo "$top/$build/service/kestrome-service"; }

# Creates run/ and its database with the demo account when they are missing.
prepare_run_folder() {
    mkdir -p "$top/run"
    if [ ! -f "$top/run/kestrome-service.db" ]; then
        printf 'demo\n' | "$(service_bin)" --db "$top/run/kestrome-service.db" user add demo >/dev/null
        echo "Created the demo account: login 'demo', password 'demo'."
    fi
}

# Starts the service on 127.0.0.1:8245 in the background; fails with a clear
# message when it cannot listen there.
start_service() {
    "$(service_bin)" serve --listen 127.0.0.1:8245 --db "$top/run/kestrome-service.db" \
        2>>"$top/run/kestrome-service.log" &
    service_pid=$!
    for _ in $(seq 50); do
        if ! kill -0 "$service_pid" 2>/dev/null; then
            echo "The update service could not start on 127.0.0.1:8245: is the port taken by another program?"
            echo "(see run/kestrome-service.log)"
            return 1
        fi
        if grep -q "listening on 127.0.0.1:8245" "$top/run/kestrome-service.log" 2>/dev/null &&
           (exec 3<>/dev/tcp/127.0.0.1/8245) 2>/dev/null; then
            return 0
        fi
        sleep 0.1
    done
    echo "The update service did not answer on 127.0.0.1:8245 (see run/kestrome-service.log)."
    return 1
}

stop_service() {
    if [ -n "${service_pid:-}" ]; then
        kill -TERM "$service_pid" 2>/dev/null || true
        wait "$service_pid" 2>/dev/null || true
        service_pid=
    fi
}
