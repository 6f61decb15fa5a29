# Helpers for the start-*.sh scripts of tests/env.
# shellcheck shell=bash

# record_pid PID NAME: tests/env/down stops it.
record_pid() { echo "$1 $2" >> "$BRENVO_RUN_DIR/pids"; }

# export_var NAME VALUE: the tests see BRENVO_TEST_NAME=VALUE.
export_var() { printf 'export BRENVO_TEST_%s=%q\n' "$1" "$2" >> "$BRENVO_RUN_DIR/env.sh"; }

# wait_port HOST PORT [SECONDS]: until something accepts connections there.
wait_port() {
  local host=$1 port=$2 secs=${3:-30} i
  for ((i = 0; i < secs * 10; i++)); do
    if (exec 3<>"/dev/tcp/$host/$port") 2>/dev/null; then return 0; fi
    sleep 0.1
  done
  echo "env: nothing answers on $host:$port after ${secs}s" >&2
  return 1
}

# addr N: the loopback address 127.x.y.N the services of this run use. Runs
# that share a machine pick different prefixes with BRENVO_LOOPBACK_PREFIX
# (default 127.0.0), since the MySQL port is fixed at 3306.
addr() { echo "${BRENVO_LOOPBACK_PREFIX:-127.0.0}.$1"; }
