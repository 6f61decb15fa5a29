#!/usr/bin/env bash
# The FTP server the dump's upload goes to: pyftpdlib on its own loopback
# address, port 21 (the upload always uses 21). One account, the one the
# upload logs in with, whose home is a folder the tests read back. Both
# active and passive transfers are allowed; ftp-modes.log beside the folder
# tells which one each stored file used.
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


class Handler(FTPHandler):
    """Writes one line per file to be stored to ftp-modes.log: the file's path and
    whether its data came over an active or a passive connection."""
    mode = "none"

    def ftp_PORT(self, line):
        self.mode = "active"
        return super().ftp_PORT(line)

    def ftp_EPRT(self, line):
        self.mode = "active"
        return super().ftp_EPRT(line)

    def ftp_PASV(self, line):
        self.mode = "passive"
        return super().ftp_PASV(line)

    def ftp_EPSV(self, line):
        self.mode = "passive"
        return super().ftp_EPSV(line)

    # Written when the STOR arrives, so the line is there before the reply
    # that ends the upload reaches the client.
    def ftp_STOR(self, file, mode="w"):
        with open(modes, "a") as f:
            f.write("%s %s\n" % (file, self.mode))
        return super().ftp_STOR(file, mode)


modes = root.rstrip("/") + "/../ftp-modes.log"
Handler.authorizer = auth
# Refused logins answer at once; the tests try wrong passwords on purpose.
Handler.auth_failed_timeout = 0
server = FTPServer((host, 21), Handler)
server.serve_forever()
PY
record_pid $! ftp
wait_port "$host" 21 30
export_var FTP_HOST "$host"
export_var FTP_ROOT "$root"
export_var FTP_USER "$user"
export_var FTP_PASSWORD "$password"
export_var FTP_MODES "$BRENVO_RUN_DIR/ftp-modes.log"
