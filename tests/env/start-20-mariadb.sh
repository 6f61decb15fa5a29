#!/usr/bin/env bash
# Three MariaDB servers, each with its own data folder under the run folder
# and its own loopback address, all on the fixed MySQL port 3306:
#   cs     the CS database server (customers' CS DBs)              addr 21
#   admin  the management server (app_admin, kv_inhouse)            addr 22
#   local  the workstation's own server, reached as "localhost"     addr 23
# "localhost" means the Unix socket to both Connector/C and Connector/ODBC;
# they take its path from MYSQL_UNIX_PORT, which env.sh exports pointing at
# the local server, so nothing reaches a system-wide server.
#
# The servers are initialised and started in parallel. Each root account has
# a password (socket authentication is switched off) so that tests of wrong
# passwords mean what they say.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"

mysqld=$(command -v mariadbd || command -v mysqld || true)
install_db=$(command -v mariadb-install-db || command -v mysql_install_db || true)
client=$(command -v mariadb || command -v mysql || true)
if [ -z "$mysqld" ] || [ -z "$install_db" ] || [ -z "$client" ]; then
  echo "env: MariaDB server not installed (scripts/setup installs mariadb-server)" >&2
  exit 1
fi

# name addr-number root-password
servers=(
  "cs 21 csroot-Pw20"
  "admin 22 adminroot-Pw20"
  "local 23 localroot-Pw20"
)

start_one() {
  local name=$1 n=$2 pw=$3
  local dir="$BRENVO_RUN_DIR/mariadb-$name"
  local data="$dir/data" sock="$dir/mysqld.sock" host
  host=$(addr "$n")
  rm -rf "$dir"
  mkdir -p "$dir/tmp"
  cp -a "$template" "$data"
  # Small buffers for a quick start; commits are not flushed to disk at once
  # (these data are thrown away), which keeps row-by-row inserts quick.
  "$mysqld" --no-defaults --user=root \
    --datadir="$data" --socket="$sock" --pid-file="$dir/mysqld.pid" \
    --bind-address="$host" --port=3306 --skip-name-resolve \
    --log-error="$dir/error.log" --tmpdir="$dir/tmp" \
    --character-set-server=utf8mb4 --collation-server=utf8mb4_general_ci \
    --innodb-buffer-pool-size=64M --innodb-log-file-size=32M \
    --innodb-flush-log-at-trx-commit=2 --innodb-doublewrite=0 \
    --innodb-use-native-aio=0 --sync-binlog=0 \
    --max-connections=300 --max-allowed-packet=64M \
    >/dev/null 2>&1 &
  record_pid $! "mariadb-$name"
  local i
  for ((i = 0; i < 600; i++)); do
    if [ -S "$sock" ] && "$client" --no-defaults -S "$sock" -uroot -e 'SELECT 1' >/dev/null 2>&1; then break; fi
    sleep 0.1
  done
  if ((i == 600)); then
    echo "env: MariaDB server $name did not come up:" >&2
    tail -20 "$dir/error.log" >&2
    return 1
  fi
  "$client" --no-defaults -S "$sock" -uroot <<SQL
ALTER USER root@localhost IDENTIFIED VIA mysql_native_password USING PASSWORD('$pw');
CREATE USER root@'%' IDENTIFIED BY '$pw';
GRANT ALL PRIVILEGES ON *.* TO root@'%' WITH GRANT OPTION;
FLUSH PRIVILEGES;
SQL
  if [ "$name" = admin ]; then
    "$client" --no-defaults -S "$sock" -uroot -p"$pw" \
      -e 'CREATE DATABASE app_admin; CREATE DATABASE kv_inhouse;'
  fi
  wait_port "$host" 3306 30
}

# One bootstrap, copied for each server: parallel bootstraps trip over each
# other's temporary tables, and one is quicker anyway.
template="$BRENVO_RUN_DIR/mariadb-template"
rm -rf "$template" "$template.tmp"
mkdir -p "$template" "$template.tmp"
# --force: the tool insists on resolving this machine's name even with
# --skip-name-resolve, and a fresh machine may have no /etc/hosts yet.
if ! TMPDIR="$template.tmp" "$install_db" --no-defaults --datadir="$template" --user=root --skip-test-db \
    --skip-name-resolve --force --auth-root-authentication-method=socket >"$template.log" 2>&1; then
  echo "env: mariadb-install-db failed:" >&2
  head -20 "$template.log" >&2
  exit 1
fi

pids=()
for s in "${servers[@]}"; do
  # shellcheck disable=SC2086
  start_one $s &
  pids+=($!)
done
rc=0
for p in "${pids[@]}"; do wait "$p" || rc=1; done
[ $rc -eq 0 ] || exit 1

for s in "${servers[@]}"; do
  read -r name n pw <<<"$s"
  up=$(echo "$name" | tr '[:lower:]' '[:upper:]')
  export_var "${up}_HOST" "$(addr "$n")"
  export_var "${up}_SOCKET" "$BRENVO_RUN_DIR/mariadb-$name/mysqld.sock"
  export_var "${up}_ROOT_PASSWORD" "$pw"
done
# Connector/C and Connector/ODBC (and mysqldump) take host "localhost" as the
# socket named here.
printf 'export MYSQL_UNIX_PORT=%q\n' "$BRENVO_RUN_DIR/mariadb-local/mysqld.sock" >> "$BRENVO_RUN_DIR/env.sh"
