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

# The first port from FIRST on (100 tried) on which nothing listens on
# 127.0.0.1; fails with a message where all are taken.
free_port() {
    local port
    for ((port = $1; port < $1 + 100; port++)); do
        require_free_port "$port" 2>/dev/null && { echo "$port"; return 0; }
    done
    echo "$(basename "$0"): ports $1 to $(($1 + 99)) on 127.0.0.1 are all taken" >&2
    return 1
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

# The Windows Installer package of the programs in DIST, version VERSION,
# made with wixl: its files listed by wixl-heat, the rest in
# windows/rimdal.wxs.
build_msi() {
    local dist version out list wxs
    dist=$(realpath "$1") version=$2 out=$(realpath -m "$3")
    wxs=$(realpath "$(dirname "${BASH_SOURCE[0]}")/../windows/rimdal.wxs")
    list=$(mktemp --suffix=.wxs)
    # wixl takes the files' paths relative to where it runs.
    (
        cd "$(dirname "$dist")"
        find "$(basename "$dist")" -type f | LC_ALL=C sort |
            wixl-heat --prefix "$(basename "$dist")/" --directory-ref INSTALLDIR \
                --component-group Programs --var var.DIST --win64 >"$list"
        wixl -a x64 -D VERSION="$version" -D DIST="$(basename "$dist")" -D Win64=yes -o "$out" \
            "$wxs" "$list" 2>"$list.log"
    ) || { cat "$list.log" >&2; rm -f "$list" "$list.log"; return 1; }
    rm -f "$list" "$list.log"
}

# The NSIS setup program of the programs in DIST; given SIGN (scripts/sign),
# its uninstaller and itself signed as they are written.
build_setup() {
    local dist version=$2 out sign=${4:-}
    dist=$(realpath "$1") out=$(realpath -m "$3")
    makensis -V2 -DVERSION="$version" -DDIST="$dist" -DOUTFILE="$out" ${sign:+-DSIGN="$sign"} \
        "$(dirname "${BASH_SOURCE[0]}")/../windows/rimdal.nsi"
}
