#!/usr/bin/env bash
# A virtual X display for the screenshot test; window tests run offscreen.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
command -v Xvfb >/dev/null || exit 0
for n in $(seq 90 120); do
  [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || break
done
Xvfb ":$n" -screen 0 1400x1000x24 -nolisten tcp >/dev/null 2>&1 &
record_pid $! xvfb
export_var DISPLAY ":$n"
