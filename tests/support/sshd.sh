#!/usr/bin/env bash
# A throw-away OpenSSH server on 127.0.0.1 for the tests and benchmarks.
#
#   sshd.sh start DIR   sets up keys, configuration and a HOME under DIR, starts sshd, waits until
#                       it accepts connections and prints the facts as shell-sourceable lines
#                       (also kept in DIR/env).
#   sshd.sh stop DIR    closes the master connections that went to this server, stops sshd by
#                       its pid and removes the control sockets of those masters.
#
# The client side: DIR/home is meant as HOME (its .ssh/config has the aliases, its .ssh holds
# the user key), DIR/bin goes first on PATH. OpenSSH reads its configuration and known_hosts
# from the passwd home, not HOME, so DIR/bin/ssh adds -F and UserKnownHostsFile and passes the
# caller's arguments on unchanged.
#
# The aliases end in the port so that servers started side by side (parallel test processes)
# never share a control socket: the program names its sockets after the destination.
#
# WRENFIELD_SSHD_LOGIN_USER picks the account the aliases log in as (default: the current one);
# that account's own ~/.ssh/authorized_keys is honoured besides DIR's.
# WRENFIELD_SSHD_WATCH_PID names a process (the test program) whose end stops the server too,
# so that a crashed test leaves no sshd behind.
set -euo pipefail
script=$(cd "$(dirname "$0")" && pwd)/$(basename "$0")

usage() {
  echo "usage: sshd.sh start|stop DIR" >&2
  exit 2
}

[[ $# == 2 ]] || usage
command=$1
dir=$2

# Closes the masters behind /tmp/wrenfield-*.sock whose TCP connection goes to this server's
# port, and removes their sockets. ssh rewrites a master's command line, so the connection
# itself tells whose master it is: the socket inodes among the master's descriptors are matched
# against the kernel's TCP table. Sockets of other servers are left alone.
close_our_masters() {
  python3 - "$1" <<'PYTHON'
import glob, os, re, subprocess, sys, time

port = int(sys.argv[1])

def inodes_connected_to_port():
    found = set()
    for table in ("/proc/net/tcp", "/proc/net/tcp6"):
        try:
            lines = open(table).read().splitlines()[1:]
        except OSError:
            continue
        for line in lines:
            fields = line.split()
            if int(fields[2].rsplit(":", 1)[1], 16) == port:
                found.add(fields[9])
    return found

def socket_inodes(pid):
    inodes = set()
    try:
        entries = os.listdir(f"/proc/{pid}/fd")
    except OSError:
        return inodes
    for entry in entries:
        try:
            match = re.fullmatch(r"socket:\[(\d+)\]", os.readlink(f"/proc/{pid}/fd/{entry}"))
        except OSError:
            continue
        if match:
            inodes.add(match.group(1))
    return inodes

def control(socket_path, operation):
    try:
        return subprocess.run(["/usr/bin/ssh", "-F", "/dev/null", "-o",
                               "ControlPath=" + socket_path, "-O", operation, "placeholder"],
                              capture_output=True, text=True, timeout=10).stderr
    except subprocess.TimeoutExpired:
        return ""

def is_running(pid):
    try:
        state = open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()[0]
    except (OSError, IndexError):
        return False
    return state != "Z"

ours = inodes_connected_to_port()
for socket_path in glob.glob("/tmp/wrenfield-*.sock"):
    match = re.search(r"pid=(\d+)", control(socket_path, "check"))
    if not match:
        continue
    pid = int(match.group(1))
    if not socket_inodes(pid) & ours:
        continue
    control(socket_path, "exit")
    deadline = time.monotonic() + 5
    while time.monotonic() < deadline and is_running(pid):
        time.sleep(0.02)
    if is_running(pid):
        try:
            os.kill(pid, 15)
        except OSError:
            pass
    try:
        os.unlink(socket_path)
    except OSError:
        pass
PYTHON
}

# True while the process exists and is not a zombie.
is_running() {
  local state
  state=$(awk '{print $3}' "/proc/$1/stat" 2>/dev/null) || return 1
  [[ -n $state && $state != Z ]]
}

stop_server() {
  [[ -d $dir ]] || return 0
  dir=$(cd "$dir" && pwd)
  local port=""
  [[ -f $dir/port ]] && port=$(<"$dir/port")

  # Masters first, so that their sessions end while the server still answers.
  [[ -n $port ]] && close_our_masters "$port"

  # The watcher's own stop runs as its child; any other stop ends the watcher.
  if [[ -f $dir/watcher.pid ]]; then
    local watcher
    watcher=$(<"$dir/watcher.pid")
    if [[ $watcher =~ ^[0-9]+$ && $watcher != "$PPID" ]]; then
      kill -TERM "$watcher" 2>/dev/null || true
    fi
    rm -f "$dir/watcher.pid"
  fi

  [[ -f $dir/sshd.pid ]] || return 0
  local server_pid
  server_pid=$(<"$dir/sshd.pid")
  [[ $server_pid =~ ^[0-9]+$ ]] || return 0
  # Only a process that is still our sshd gets a signal: the pid may have been reused.
  if [[ -r /proc/$server_pid/cmdline ]] && tr '\0' ' ' <"/proc/$server_pid/cmdline" | grep -qF "$dir/sshd_config"; then
    # Sessions that are still open belong to this server too; OpenSSH leaves them running
    # when the listener goes.
    local children child
    children=$(cat /proc/"$server_pid"/task/*/children 2>/dev/null || true)
    kill -TERM "$server_pid" 2>/dev/null || true
    for child in $children; do kill -TERM "$child" 2>/dev/null || true; done
    for _ in $(seq 250); do
      is_running "$server_pid" || break
      sleep 0.02
    done
    is_running "$server_pid" && kill -KILL "$server_pid" 2>/dev/null
  fi
  rm -f "$dir/sshd.pid"
  return 0
}

free_port() {
  python3 -c 'import socket
s = socket.socket()
s.bind(("127.0.0.1", 0))
print(s.getsockname()[1])'
}

wait_for_port() {
  python3 - "$1" <<'EOF'
import socket, sys, time
deadline = time.monotonic() + 10
while time.monotonic() < deadline:
    try:
        socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=1).close()
        sys.exit(0)
    except OSError:
        time.sleep(0.05)
sys.exit(1)
EOF
}

start_server() {
  mkdir -p "$dir"
  dir=$(cd "$dir" && pwd)
  local login_user=${WRENFIELD_SSHD_LOGIN_USER:-$(id -un)}

  rm -f "$dir/host_ed25519" "$dir/host_ed25519.pub" "$dir/user_ed25519" "$dir/user_ed25519.pub"
  ssh-keygen -q -t ed25519 -N "" -C "wrenfield-test-host" -f "$dir/host_ed25519"
  ssh-keygen -q -t ed25519 -N "" -C "wrenfield-test-user" -f "$dir/user_ed25519"
  cp "$dir/user_ed25519.pub" "$dir/authorized_keys"
  chmod 644 "$dir/authorized_keys"

  # Privilege separation needs this directory when sshd runs as root.
  mkdir -p /run/sshd 2>/dev/null || true

  local port attempt started=0
  for attempt in 1 2 3 4 5; do
    port=$(free_port)
    # SHLVL=1 makes the login's bash count itself a nested shell, so it skips ~/.bashrc: the
    # machine's own start-up file for root (a Python version manager that rehashes at every
    # login) is not part of what the tests test, and many logins at once made it print lock
    # errors into the remote programs' standard error.
    cat >"$dir/sshd_config" <<EOF
SetEnv SHLVL=1
ListenAddress 127.0.0.1
Port $port
HostKey $dir/host_ed25519
PidFile $dir/sshd.pid
AuthorizedKeysFile $dir/authorized_keys .ssh/authorized_keys
PermitRootLogin prohibit-password
PubkeyAuthentication yes
PasswordAuthentication no
KbdInteractiveAuthentication no
StrictModes no
UsePAM no
UseDNS no
PrintMotd no
PrintLastLog no
MaxSessions 64
MaxStartups 64:30:128
LogLevel VERBOSE
EOF
    # sshd binds before it goes into the background, so its status tells whether the port
    # was still free.
    if /usr/sbin/sshd -f "$dir/sshd_config" -E "$dir/sshd.log"; then
      started=1
      break
    fi
  done
  if ((!started)); then
    echo "sshd.sh: sshd did not start; its log:" >&2
    cat "$dir/sshd.log" >&2 || true
    exit 1
  fi
  echo "$port" >"$dir/port"
  if ! wait_for_port "$port"; then
    echo "sshd.sh: sshd does not accept connections on port $port" >&2
    cat "$dir/sshd.log" >&2 || true
    stop_server
    exit 1
  fi
  for _ in $(seq 100); do
    [[ -s $dir/sshd.pid ]] && break
    sleep 0.05
  done

  local home=$dir/home
  mkdir -p "$home/.ssh" "$dir/bin" "$dir/scratch"
  chmod 700 "$home/.ssh"
  cp "$dir/user_ed25519" "$home/.ssh/id_ed25519"
  cp "$dir/user_ed25519.pub" "$home/.ssh/id_ed25519.pub"
  chmod 600 "$home/.ssh/id_ed25519"
  local host=wrenfield-test-$port host2=wrenfield-test2-$port
  cat >"$home/.ssh/config" <<EOF
Host $host
    HostName 127.0.0.1
    Port $port
    User $login_user
    IdentityFile $home/.ssh/id_ed25519

Host $host2
    HostName 127.0.0.1
    Port $port
    User $login_user
    IdentityFile $home/.ssh/id_ed25519
EOF
  echo "[127.0.0.1]:$port $(cut -d' ' -f1,2 "$dir/host_ed25519.pub")" >"$dir/known_hosts"

  cat >"$dir/bin/ssh" <<EOF
#!/bin/sh
exec /usr/bin/ssh -F "$home/.ssh/config" -o UserKnownHostsFile="$dir/known_hosts" "\$@"
EOF
  chmod 755 "$dir/bin/ssh"

  {
    printf 'WRENFIELD_SSHD_DIR=%q\n' "$dir"
    printf 'WRENFIELD_SSHD_PORT=%q\n' "$port"
    printf 'WRENFIELD_SSHD_PID=%q\n' "$(cat "$dir/sshd.pid" 2>/dev/null)"
    printf 'WRENFIELD_TEST_HOME=%q\n' "$home"
    printf 'WRENFIELD_TEST_PATH=%q\n' "$dir/bin:$PATH"
    printf 'WRENFIELD_TEST_HOST=%q\n' "$host"
    printf 'WRENFIELD_TEST_HOST2=%q\n' "$host2"
    printf 'WRENFIELD_TEST_USER=%q\n' "$login_user"
    printf 'WRENFIELD_TEST_KEY=%q\n' "$home/.ssh/id_ed25519"
    printf 'WRENFIELD_TEST_SSH_CONFIG=%q\n' "$home/.ssh/config"
    printf 'WRENFIELD_TEST_KNOWN_HOSTS=%q\n' "$dir/known_hosts"
    printf 'WRENFIELD_TEST_SCRATCH=%q\n' "$dir/scratch"
  } >"$dir/env"
  if [[ -n ${WRENFIELD_SSHD_WATCH_PID:-} ]]; then
    local watched=$WRENFIELD_SSHD_WATCH_PID
    (
      while is_running "$watched" && [[ -f $dir/sshd.pid ]]; do sleep 0.5; done
      [[ -f $dir/sshd.pid ]] && bash "$script" stop "$dir"
    ) </dev/null >/dev/null 2>&1 &
    echo $! >"$dir/watcher.pid"
  fi
  cat "$dir/env"
}

case $command in
  start) start_server ;;
  stop) stop_server ;;
  *) usage ;;
esac
