# SPDX-License-Identifier: GPL-3.0-or-later
# Shared by the scripts, which source it: the PostgreSQL programs, running
# them as the server's user, and ports and sockets.

# The newest installed PostgreSQL server's programs, or nothing.
pg_bin() {
    ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1
}

# PostgreSQL, PgBouncer and Patroni refuse to run as root; there they run as
# the postgres user.
as_server() {
    if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}

# A folder the server's user may write to.
server_dir() {
    mkdir -p "$1"
    if [ "$(id -u)" -eq 0 ]; then chown postgres: "$1"; fi
}

# Fails when something already listens on 127.0.0.1:PORT: a server of
# another run would take this run's connections.
require_free_port() {
    if (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; then
        echo "$(basename "$0"): port $1 on 127.0.0.1 is taken" >&2
        return 1
    fi
}

# Waits up to SECONDS for a Unix socket to appear.
wait_for_socket() {
    local socket=$1 seconds=$2
    for _ in $(seq $((seconds * 10))); do
        [ -S "$socket" ] && return 0
        sleep 0.1
    done
    echo "$(basename "$0"): no socket $socket after $seconds s" >&2
    return 1
}

# A new cluster's data folder, as every throwaway cluster of the scripts has
# it: the postgres superuser trusted, UTF-8, the C locale.
init_cluster() {
    as_server "$(pg_bin)/initdb" -D "$1" -U postgres -A trust -E UTF8 --locale=C --no-sync
}

# A path of this machine as Wine's programs see it: the Unix root is drive Z:.
winpath() {
    printf 'Z:%s' "$1" | tr / '\\'
}

# Waits up to SECONDS for a window named TITLE on the X display and prints
# its id.
wait_for_window() {
    local title=$1 seconds=$2 id
    for _ in $(seq "$seconds"); do
        id=$(xdotool search --name "$title" 2>/dev/null | head -n 1)
        [ -n "$id" ] && { echo "$id"; return 0; }
        sleep 1
    done
    return 1
}
