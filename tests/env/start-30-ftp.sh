#!/usr/bin/env bash
# The FTP server the dump's upload goes to: pyftpdlib on its own loopback
# address, port 21 (the upload always uses 21). One account, the one the
# upload logs in with, whose home is a folder the tests read back. Both
# active and passive transfers are allowed.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
root="$BRENVO_RUN_DIR/ftp-root"
rm -rf "$root"
mkdir -p "$root"
host=$(addr 31)
user=administrator
password=7461
# Debian's package installs into the system interpreter; a python3 earlier
# on PATH (a pyenv shim, a venv) would not see it.
py=/usr/bin/python3
[ -x "$py" ] || py=$(command -v python3)
if ! "$py" -c 'import pyftpdlib' 2>/dev/null; then
  echo "env: pyftpdlib missing (scripts/setup installs python3-pyftpdlib)" >&2
  exit 1
fi
"$py" - "$host" "$root" "$user" "$password" >"$BRENVO_RUN_DIR/ftp.log" 2>&1 <<'PY' &
import logging, sys
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer

host, root, user, password = sys.argv[1:5]
logging.basicConfig(level=logging.INFO)
auth = DummyAuthorizer()
auth.add_user(user, password, root, perm="elradfmwMT")
FTPHandler.authorizer = auth
# Refused logins answer at once; the tests try wrong passwords on purpose.
FTPHandler.auth_failed_timeout = 0
server = FTPServer((host, 21), FTPHandler)
server.serve_forever()
PY
record_pid $! ftp
wait_port "$host" 21 30
export_var FTP_HOST "$host"
export_var FTP_ROOT "$root"
export_var FTP_USER "$user"
export_var FTP_PASSWORD "$password"
