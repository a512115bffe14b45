#!/usr/bin/env bash
# Starts or stops a private Firebird 3 SuperServer for the tests, listening on 127.0.0.1 only.
#
#   scripts/test-server.sh start DIR
#   scripts/test-server.sh stop DIR
#
# DIR holds everything of the instance:
#   DIR/root/        Firebird root: symlinks to the packaged files (the intl libraries copied),
#                    plus its own firebird.conf, databases.conf and security3.fdb
#   DIR/lock/        lock folder (FIREBIRD_LOCK)
#   DIR/server.log   standard output and error of the server process
#   DIR/server.pid   pid of the server process
#   DIR/env          shell assignments for the test runner (port, user, password)
#
# The first port tried is 3057 (or SORVANTO_TEST_SERVER_FIRST_PORT); ports in use are skipped.
# Clients need no special configuration: the packaged client defaults (AuthClient with Srp,
# WireCrypt = Enabled) attach through localhost/PORT:/path/to/db.fdb.
#
# The server runs as the calling user (root in CI), so it can create databases in any folder that
# user can write. Its firebird.log still goes to the packaged location (/var/log/firebird), which
# the Debian build fixes at compile time; the last lines of it are shown when the start fails.
set -euo pipefail

readonly FB_HOME=/usr/lib/x86_64-linux-gnu/firebird/3.0
readonly FB_SERVER=/usr/sbin/firebird
readonly SYSTEM_SECURITY_DB=/var/lib/firebird/3.0/system/security3.fdb
readonly SYSTEM_LOG=/var/log/firebird/firebird3.0.log
readonly TEST_USER=SYSDBA
readonly TEST_PASSWORD=sorvanto-test
readonly FIRST_PORT=${SORVANTO_TEST_SERVER_FIRST_PORT:-3057}
readonly PORT_TRIES=50
readonly START_TIMEOUT=20
readonly STOP_TIMEOUT=20

# shellcheck source=scripts/firebird-root.sh
. "$(dirname "${BASH_SOURCE[0]}")/firebird-root.sh"

die() {
  echo "test-server: $*" >&2
  exit 1
}

usage() {
  echo "usage: $0 start|stop DIR" >&2
  exit 2
}

[ $# -eq 2 ] || usage
action=$1
case $action in start | stop) ;; *) usage ;; esac
[ -n "$2" ] || usage
if [ "$action" = stop ] && [ ! -d "$2" ]; then
  echo "test-server: not running"
  exit 0
fi
mkdir -p "$2"
dir=$(cd "$2" && pwd -P)
root=$dir/root
lock=$dir/lock
pid_file=$dir/server.pid
log_file=$dir/server.log
env_file=$dir/env

# Prints the pid of this instance's server when it is alive; fails otherwise. The process must be
# the Firebird server binary started with this instance's root, so a recycled pid is not mistaken
# for it.
running_pid() {
  local pid
  [ -f "$pid_file" ] || return 1
  pid=$(<"$pid_file")
  [[ $pid =~ ^[0-9]+$ ]] || return 1
  kill -0 "$pid" 2>/dev/null || return 1
  [ "$(readlink "/proc/$pid/exe" 2>/dev/null)" = "$FB_SERVER" ] || return 1
  tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qxF "FIREBIRD=$root" || return 1
  echo "$pid"
}

port_in_use() {
  [ -n "$(ss -Htln "( sport = :$1 )")" ]
}

port_accepts() {
  # shellcheck disable=SC2016  # expanded by the inner shell
  timeout 1 bash -c 'exec 3<>"/dev/tcp/127.0.0.1/$1"' _ "$1" 2>/dev/null
}

write_env() {
  local tmp=$env_file.tmp
  {
    echo "SORVANTO_TEST_SERVER_PORT=$1"
    echo "SORVANTO_TEST_SERVER_PASSWORD=$TEST_PASSWORD"
    echo "SORVANTO_TEST_SERVER_USER=$TEST_USER"
  } >"$tmp"
  mv -f "$tmp" "$env_file"
}

# Port recorded in the instance's firebird.conf.
configured_port() {
  sed -n 's/^RemoteServicePort = \([0-9]\+\)$/\1/p' "$root/firebird.conf"
}

# Builds DIR/root: every packaged entry is linked (intl copied, see firebird-root.sh), except the
# configuration files this instance owns. The packaged firebird.conf and databases.conf are
# symlinks into /etc and must not be used.
make_root() {
  rm -rf "$root" "$lock"
  mkdir -p "$root" "$lock"
  link_firebird_root "$FB_HOME" "$root" firebird.conf databases.conf security3.fdb
}

write_config() {
  cat >"$root/firebird.conf" <<EOF
# Private test instance: SuperServer on loopback only.
ServerMode = Super
RemoteServicePort = $1
RemoteBindAddress = 127.0.0.1
SecurityDatabase = $root/security3.fdb
AuthServer = Srp256, Srp
UserManager = Srp
WireCrypt = Enabled
UdfAccess = None
EOF
  cat >"$root/databases.conf" <<EOF
security.db = $root/security3.fdb
{
	RemoteAccess = false
}
EOF
}

# Runs isql-fb embedded inside this instance's root with the given SQL on standard input.
# Refuses to run unless the root's own configuration names the private security database.
embedded_isql() {
  grep -qxF "SecurityDatabase = $root/security3.fdb" "$root/firebird.conf" 2>/dev/null ||
    die "$root/firebird.conf does not name the private security database"
  FIREBIRD=$root FIREBIRD_LOCK=$lock isql-fb -q -bail -user "$TEST_USER" "$@"
}

# Puts the security database in place (a copy of the packaged one, or a new empty database when
# that one cannot be read) and sets the SYSDBA password. The server is not running yet, so the
# embedded engine has the file to itself.
make_security_db() {
  local db=$root/security3.fdb quoted
  quoted=${db//\'/\'\'}
  if [ -r "$SYSTEM_SECURITY_DB" ] && cp "$SYSTEM_SECURITY_DB" "$db" 2>/dev/null; then
    chmod 600 "$db"
    embedded_isql "$db" <<EOF >/dev/null
create or alter user $TEST_USER password '$TEST_PASSWORD' using plugin Srp;
commit;
EOF
  else
    # SecurityDatabase names this very file, so the new user is stored in it.
    embedded_isql <<EOF >/dev/null
create database '$quoted' page_size 8192;
create or alter user $TEST_USER password '$TEST_PASSWORD' using plugin Srp;
commit;
EOF
  fi
}

show_logs() {
  echo "--- $log_file" >&2
  cat "$log_file" >&2 2>/dev/null || true
  if [ -r "$SYSTEM_LOG" ]; then
    echo "--- last lines of $SYSTEM_LOG" >&2
    tail -n 20 "$SYSTEM_LOG" >&2
  fi
}

# Launches the server on the given port in its own session and waits until the port accepts
# connections. Returns 1 when the process ends early (for instance when the port was taken in the
# meantime), 2 when it is alive but does not answer in time.
launch() {
  local port=$1 pid waited=0
  write_config "$port"
  : >"$log_file"
  # The inner shell records its own pid and then becomes the server, so the pid file names the
  # server process even when setsid has to fork.
  (
    cd "$dir"
    # shellcheck disable=SC2016  # expanded by the inner shell
    FIREBIRD=$root FIREBIRD_LOCK=$lock setsid bash -c 'echo $$ >"$1"; exec "$2"' _ \
      "$pid_file" "$FB_SERVER" </dev/null >>"$log_file" 2>&1 &
  )
  while [ ! -s "$pid_file" ] && [ $waited -lt 50 ]; do
    sleep 0.1
    waited=$((waited + 1))
  done
  [ -s "$pid_file" ] || return 1
  pid=$(<"$pid_file")
  waited=0
  while [ $waited -lt $((START_TIMEOUT * 10)) ]; do
    kill -0 "$pid" 2>/dev/null || return 1
    port_accepts "$port" && return 0
    sleep 0.1
    waited=$((waited + 1))
  done
  return 2
}

start() {
  local pid port tries=0 rc
  if pid=$(running_pid); then
    port=$(configured_port)
    write_env "$port"
    echo "test-server: already running (pid $pid) on 127.0.0.1:$port"
    return 0
  fi
  rm -f "$pid_file" "$env_file"
  make_root
  # The configuration must exist before the first embedded access: without it the engine would
  # fall back to the packaged settings and change the system-wide security database.
  write_config "$FIRST_PORT"
  make_security_db || die "could not prepare the security database in $root"

  port=$FIRST_PORT
  while [ $tries -lt $PORT_TRIES ]; do
    if port_in_use "$port"; then
      port=$((port + 1))
      tries=$((tries + 1))
      continue
    fi
    rc=0
    launch "$port" || rc=$?
    if [ $rc -eq 0 ]; then
      write_env "$port"
      echo "test-server: running (pid $(<"$pid_file")) on 127.0.0.1:$port, env in $env_file"
      return 0
    fi
    if [ $rc -eq 2 ]; then
      show_logs
      stop >/dev/null
      die "server did not accept connections on 127.0.0.1:$port within ${START_TIMEOUT}s"
    fi
    # The process ended: retry on the next port only if another process holds this one now.
    rm -f "$pid_file"
    if ! port_in_use "$port"; then
      show_logs
      die "server exited during start-up"
    fi
    port=$((port + 1))
    tries=$((tries + 1))
  done
  die "no free port found in $FIRST_PORT..$((FIRST_PORT + PORT_TRIES - 1))"
}

stop() {
  local pid waited=0
  if ! pid=$(running_pid); then
    rm -f "$pid_file" "$env_file"
    echo "test-server: not running"
    return 0
  fi
  kill -TERM "$pid" 2>/dev/null || true
  while kill -0 "$pid" 2>/dev/null && [ $waited -lt $((STOP_TIMEOUT * 10)) ]; do
    sleep 0.1
    waited=$((waited + 1))
  done
  if kill -0 "$pid" 2>/dev/null; then
    echo "test-server: pid $pid ignored SIGTERM for ${STOP_TIMEOUT}s, killing it" >&2
    kill -KILL "$pid" 2>/dev/null || true
    while kill -0 "$pid" 2>/dev/null; do sleep 0.1; done
  fi
  rm -f "$pid_file" "$env_file"
  echo "test-server: stopped (pid $pid)"
}

case $action in
  start) start ;;
  stop) stop ;;
esac
