#!/usr/bin/env bash
# The update server: Python's http.server on its own loopback address, port
# 80 (the update URL carries no port), serving a folder the tests fill. Each
# test works below a folder of its own there, so parallel tests never share
# a version file.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
root="$BRENVO_RUN_DIR/http-root"
mkdir -p "$root"
host=$(addr 40)
python3 -m http.server 80 --bind "$host" --directory "$root" >"$BRENVO_RUN_DIR/http.log" 2>&1 &
record_pid $! http
wait_port "$host" 80 30
export_var HTTP_HOST "$host"
export_var HTTP_ROOT "$root"
