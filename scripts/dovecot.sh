#!/usr/bin/env bash
# A throw-away dovecot POP3 server for the tests and the demo: everything (configuration, users,
# Maildirs, sockets, state, log) lives in one directory, it listens on 127.0.0.1 only, and
# several instances never meet each other or a system dovecot. Run as root.
#
#   dovecot.sh start DIR PORT        configure DIR, start, wait until PORT accepts connections
#   dovecot.sh start DIR PORT SSLPORT CERTFILE KEYFILE
#                                    the same with TLS: STLS offered on PORT (clear-text login
#                                    still allowed there), POP3S on SSLPORT, both with CERTFILE
#   dovecot.sh stop DIR              stop the instance of DIR (and only that one)
#   dovecot.sh adduser DIR USER PASS add or replace a user with an empty Maildir
#   dovecot.sh deliver DIR USER FILE drop the message in FILE into the user's Maildir new/
#
# Users live in DIR/users (passwd-file, plain passwords), their mail in DIR/home/USER/Maildir;
# the log is DIR/dovecot.log. Mail belongs to the system user "mail" (dovecot serves no mail as
# root); files that root drops into new/ are readable to it, so tests may deliver directly.
set -euo pipefail
mail_user=mail

die() {
    echo "dovecot.sh: $*" >&2
    exit 1
}

[ $# -ge 2 ] || die "usage: dovecot.sh start DIR PORT | stop DIR | adduser DIR USER PASS | deliver DIR USER FILE"
command="$1"
dir="$2"
[ "$(id -u)" -eq 0 ] || die "must run as root"

pid_file() { echo "$dir/run/master.pid"; }

running_pid() {
    local pid
    pid="$(cat "$(pid_file)" 2>/dev/null)" || return 1
    [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null && echo "$pid"
}

port_open() {
    /usr/bin/python3 - "$1" <<'PY'
import socket, sys
s = socket.socket()
s.settimeout(1)
try:
    s.connect(("127.0.0.1", int(sys.argv[1])))
except OSError:
    sys.exit(1)
s.close()
PY
}

check_user() {
    [[ "$1" =~ ^[A-Za-z0-9._-]+$ ]] || die "user name '$1' must be letters, digits, '.', '_' or '-'"
}

write_config() {
    local port="$1" ssl_port="${2:-0}" cert="${3:-}" key="${4:-}"
    local ssl=no pop3s_listener="    port = 0"
    if [ -n "$cert" ]; then
        ssl=yes
        pop3s_listener="$(printf '    address = 127.0.0.1\n    port = %s' "$ssl_port")"
    fi
    cat >"$dir/dovecot.conf" <<EOF
# Written by scripts/dovecot.sh: a private POP3 instance on 127.0.0.1:$port.
instance_name = pwtest-$port
base_dir = $dir/run
state_dir = $dir/state
log_path = $dir/dovecot.log
info_log_path = $dir/dovecot.log
protocols = pop3
listen = 127.0.0.1
ssl = $ssl
disable_plaintext_auth = no
auth_mechanisms = plain login
# Dovecot refuses to serve mail as root: the mail belongs to the system user "$mail_user".
first_valid_uid = $(id -u "$mail_user")
mail_location = maildir:~/Maildir
pop3_uidl_format = %08Xu%08Xv
# Throw-away mail: no fsync waits.
mail_fsync = never
# A wrong password is answered at once, not after the usual two seconds.
auth_failure_delay = 0
passdb {
  driver = passwd-file
  args = scheme=PLAIN username_format=%u $dir/users
}
userdb {
  driver = passwd-file
  args = username_format=%u $dir/users
  default_fields = uid=$mail_user gid=$(id -g "$mail_user")
}
service pop3-login {
  inet_listener pop3 {
    address = 127.0.0.1
    port = $port
  }
  inet_listener pop3s {
$pop3s_listener
  }
}
EOF
    if [ "$ssl" = yes ]; then
        cat >>"$dir/dovecot.conf" <<EOF
ssl_cert = <$cert
ssl_key = <$key
EOF
    fi
}

case "$command" in
start)
    [ $# -eq 3 ] || [ $# -eq 6 ] || die "usage: dovecot.sh start DIR PORT [SSLPORT CERTFILE KEYFILE]"
    port="$3"
    ssl_port="${4:-}"
    for p in "$port" ${ssl_port:+"$ssl_port"}; do
        [[ "$p" =~ ^[0-9]+$ ]] && [ "$p" -ge 1 ] && [ "$p" -le 65535 ] || die "bad port '$p'"
    done
    ssl_files=()
    if [ -n "$ssl_port" ]; then
        for f in "$5" "$6"; do
            [ -f "$f" ] || die "no file $f"
            ssl_files+=("$(cd "$(dirname "$f")" && pwd)/$(basename "$f")")
            [[ "${ssl_files[-1]}" != *[[:space:]]* ]] || die "the path $f may hold no blanks"
        done
        port_open "$ssl_port" && die "127.0.0.1:$ssl_port is in use"
    fi
    if running_pid >/dev/null; then
        die "an instance already runs in $dir"
    fi
    port_open "$port" && die "127.0.0.1:$port is in use"
    mkdir -p "$dir/run" "$dir/state" "$dir/home"
    dir="$(cd "$dir" && pwd)"
    [[ "$dir" != *[[:space:]]* ]] || die "the directory path may hold no blanks (dovecot.conf)"
    # The login and auth processes run as dovecot's own users and must reach the sockets.
    chmod 755 "$dir"
    touch "$dir/users"
    chmod 644 "$dir/users"
    if [ -n "$ssl_port" ]; then
        write_config "$port" "$ssl_port" "${ssl_files[0]}" "${ssl_files[1]}"
    else
        write_config "$port"
    fi
    /usr/sbin/dovecot -c "$dir/dovecot.conf" || die "dovecot did not start; see $dir/dovecot.log"
    for _ in $(seq 100); do
        port_open "$port" && { [ -z "$ssl_port" ] || port_open "$ssl_port"; } && exit 0
        sleep 0.1
    done
    tail -20 "$dir/dovecot.log" >&2 || true
    die "port $port does not accept connections"
    ;;
stop)
    pid="$(running_pid)" || exit 0
    kill -TERM "$pid"
    for _ in $(seq 100); do
        kill -0 "$pid" 2>/dev/null || exit 0
        sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null || true
    ;;
adduser)
    [ $# -eq 4 ] || die "usage: dovecot.sh adduser DIR USER PASS"
    user="$3"
    pass="$4"
    check_user "$user"
    [[ "$pass" != *:* && "$pass" != *$'\n'* ]] || die "a password may hold no ':' or line break"
    [ -f "$dir/users" ] || die "$dir is not started"
    dir="$(cd "$dir" && pwd)"
    home="$dir/home/$user"
    rm -rf "$home"
    mkdir -p "$home/Maildir/cur" "$home/Maildir/new" "$home/Maildir/tmp"
    chown -R "$mail_user:$(id -g "$mail_user")" "$home"
    # passwd-file: user:password:uid:gid:gecos:home:shell
    entries="$(grep -v "^$user:" "$dir/users" || true)"
    printf '%s\n%s\n' "$entries" "$user:{PLAIN}$pass::::$home::" | sed '/^$/d' >"$dir/users.new"
    chmod 644 "$dir/users.new"
    mv "$dir/users.new" "$dir/users"
    ;;
deliver)
    [ $# -eq 4 ] || die "usage: dovecot.sh deliver DIR USER FILE"
    user="$3"
    file="$4"
    check_user "$user"
    maildir="$dir/home/$user/Maildir"
    [ -d "$maildir/new" ] || die "no user $user in $dir"
    [ -f "$file" ] || die "no file $file"
    # Written into tmp/ and renamed, so the server never sees half a message.
    name="$(date +%s).P$$N$RANDOM$RANDOM.pwtest"
    cp "$file" "$maildir/tmp/$name"
    chown "$mail_user:$(id -g "$mail_user")" "$maildir/tmp/$name"
    chmod 644 "$maildir/tmp/$name"
    mv "$maildir/tmp/$name" "$maildir/new/$name"
    ;;
*)
    die "unknown command '$command'"
    ;;
esac
