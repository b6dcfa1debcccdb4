#!/usr/bin/env bash
# Installs what building, running and testing Wrenfield needs on a Debian machine.
# Quick when everything is already there: it only asks apt when a package is missing,
# and only runs `npm ci` when the lock file changed since the last install.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  g++ cmake ninja-build make clang-format pkg-config
  libcpp-httplib-dev nlohmann-json3-dev libgtest-dev
  libgtk-3-dev libwebkit2gtk-4.1-dev
  openssh-client openssh-server python3
  e2fsprogs btrfs-progs python3-fusepy acl attr
  xvfb xauth xdotool x11-utils x11-apps iproute2 chromium wrk
  nodejs npm
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
# Node and npm may come from outside Debian's packages; a working pair is enough.
if command -v node >/dev/null && command -v npm >/dev/null; then
  filtered=()
  for p in "${missing[@]}"; do [[ $p == nodejs || $p == npm ]] || filtered+=("$p"); done
  missing=("${filtered[@]+"${filtered[@]}"}")
fi

if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  sudo_cmd=()
  [[ $(id -u) == 0 ]] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
fi

stamp=node_modules/.wrenfield-lock
if [[ ! -f $stamp ]] || ! cmp -s package-lock.json "$stamp"; then
  echo "setup: npm ci"
  npm ci --no-audit --no-fund --loglevel=error
  cp package-lock.json "$stamp"
fi
