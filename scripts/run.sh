#!/usr/bin/env bash
# Starts the program; without a display the window cannot open, so point at --browser.
set -uo pipefail
bin=$1
shift
if [[ -z ${DISPLAY:-}${WAYLAND_DISPLAY:-} ]] && [[ " $* " != *" --browser "* ]] && [[ " $* " != *" --help "* ]] && [[ " $* " != *" -h "* ]]; then
  echo "No display found: the window cannot open here. Use the browser instead: make run ARGS=--browser" >&2
  exit 1
fi
exec "$bin" "$@"
