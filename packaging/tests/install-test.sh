#!/usr/bin/env bash
# Usage: install-test.sh PACKAGE-FOLDER   (the .deb files made by scripts/package)
#        install-test.sh --installed      (the programs installed in /usr/bin, e.g. by apt)
#
# Installs both packages into a throw-away root (or takes the system's own programs), checks
# that their libraries resolve and that the dependencies the packages declare are met here,
# runs `corvale-server --help` and a service from there, and starts the client in a virtual
# display as the user nobody, who cannot write the program's folder, with a home of its own.
# The client must read its settings from that user's ~/.config/corvale/corvale.ini, check
# the address against the service (checking is on), show its window logged out with no other
# window (no error box), write its settings back there when it ends and nothing beside the
# program.
set -euo pipefail

fail() {
    echo "install test: $*" >&2
    exit 1
}

work=$(mktemp -d)
chmod 755 "$work" # the user nobody must reach its home inside
pids=()
cleanup() {
    local i
    # KILL: a client held up by a box would not end on TERM, and the wait would never return.
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill -KILL "${pids[i]}" 2>/dev/null && wait "${pids[i]}" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT

# Every "pkg (op version) | alternative" group of a Depends field must be met on this system.
check_depends() { # deb file
    local deb=$1 field group alternative met name op version installed
    field=$(dpkg-deb --field "$deb" Depends)
    [ -n "$field" ] || fail "$(basename "$deb") declares no dependencies"
    IFS=',' read -ra groups <<<"$field"
    for group in "${groups[@]}"; do
        met=
        IFS='|' read -ra alternatives <<<"$group"
        for alternative in "${alternatives[@]}"; do
            read -r name op version <<<"$(sed -E 's/[()]/ /g' <<<"$alternative")"
            name=${name%%:*}
            installed=$(dpkg-query -W -f='${Version}' "$name" 2>/dev/null) || continue
            [ -n "$installed" ] || continue
            if [ -z "${op:-}" ] || dpkg --compare-versions "$installed" "$op" "$version"; then
                met=1
                break
            fi
        done
        [ -n "$met" ] || fail "$(basename "$deb"): dependency not met here: $group"
    done
}

if [ "${1:-}" = --installed ]; then
    prefix=/usr
else
    folder=${1:?usage: install-test.sh PACKAGE-FOLDER | --installed}
    client_deb=$(echo "$folder"/corvale_*_amd64.deb)
    server_deb=$(echo "$folder"/corvale-server_*_amd64.deb)
    [ -f "$client_deb" ] && [ -f "$server_deb" ] || fail "no packages in $folder"
    dpkg-deb --field "$client_deb" Depends | grep -q libqt6widgets6 ||
        fail "the client's dependencies do not name the Qt widgets library"
    dpkg-deb --field "$server_deb" Depends | grep -q libsqlite3 ||
        fail "the service's dependencies do not name SQLite"
    check_depends "$client_deb"
    check_depends "$server_deb"
    dpkg -x "$client_deb" "$work/root"
    dpkg -x "$server_deb" "$work/root"
    prefix=$work/root/usr
fi
bin=$prefix/bin
for program in corvale corvale-msg corvale-server; do
    [ -x "$bin/$program" ] || fail "$bin/$program is missing"
    if ldd "$bin/$program" | grep -q 'not found'; then
        ldd "$bin/$program" >&2
        fail "$program needs a library that is not there"
    fi
done
for file in share/applications/corvale.desktop share/icons/hicolor/scalable/apps/corvale.svg \
    share/icons/hicolor/48x48/apps/corvale.png share/man/man1/corvale.1.gz \
    share/man/man8/corvale-server.8.gz lib/systemd/system/corvale-server.service \
    lib/systemd/system/corvale-server-backup.service lib/systemd/system/corvale-server-backup.timer; do
    if [ "${file#lib/systemd/}" != "$file" ]; then
        [ -f "${prefix%/usr}/$file" ] || [ -f "$prefix/$file" ] || fail "$file is missing"
    else
        [ -f "$prefix/$file" ] || fail "$file is missing"
    fi
done

# Read the whole help first: grep -q ends at the first match, and under pipefail the writer's
# broken pipe would count as a failure once the help is longer than one write.
help=$("$bin/corvale-server" --help) || fail "corvale-server --help"
grep -q '^Usage: corvale-server' <<<"$help" || fail "corvale-server --help: no usage line"

# The service, as the client's counterpart on the loopback address.
"$bin/corvale-server" --db "$work/service.db" --listen 127.0.0.1:0 --access-log \
    >"$work/service.out" 2>"$work/service.log" &
pids+=($!)
port=
for _ in $(seq 100); do
    port=$(sed -n 's/^corvale-server listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$work/service.out")
    [ -n "$port" ] && break
    sleep 0.1
done
[ -n "$port" ] || fail "the service did not start: $(cat "$work/service.log")"

# The user: nobody, with a home and a runtime folder of its own and no settings beside the
# program (a folder it cannot write).
user=nobody
group=$(id -gn "$user")
home=$work/home
mkdir -p "$home/.config/corvale" "$work/run"
cat >"$home/.config/corvale/corvale.ini" <<INI
[Main]
service=127.0.0.1:$port
start_hidden=0
min_to_tray=0
INI
chown -R "$user:$group" "$home" "$work/run"
chmod 700 "$work/run"
if setpriv --reuid="$user" --regid="$group" --clear-groups test -w "$bin"; then
    fail "$user can write $bin; the test needs a folder it cannot write"
fi
[ ! -e "$bin/corvale.ini" ] || fail "$bin/corvale.ini exists before the start"

Xvfb -displayfd 1 -screen 0 800x600x24 -nolisten tcp >"$work/display" 2>/dev/null &
pids+=($!)
for _ in $(seq 100); do
    [ -s "$work/display" ] && break
    sleep 0.1
done
[ -s "$work/display" ] || fail "Xvfb did not start"
display=":$(head -n1 "$work/display")"

env -i PATH=/usr/bin:/bin HOME="$home" USER="$user" LOGNAME="$user" DISPLAY="$display" \
    XDG_RUNTIME_DIR="$work/run" QT_QPA_PLATFORM=xcb LANG=C.UTF-8 \
    setpriv --reuid="$user" --regid="$group" --clear-groups "$bin/corvale" \
    >"$work/client.log" 2>&1 &
client=$!
pids+=($client)

caption="Corvale 0.3.11 (not logged-in)"
shown=
for _ in $(seq 150); do
    if DISPLAY=$display xdotool search --onlyvisible --name "^${caption//(/\\(}\$" \
        >/dev/null 2>&1 &&
        grep -q 'cmd.php' "$work/service.log"; then
        shown=1
        break
    fi
    kill -0 "$client" 2>/dev/null || fail "the client ended early: $(cat "$work/client.log")"
    sleep 0.1
done
[ -n "$shown" ] || fail "no window \"$caption\" with an address check within 15 s; client: \
$(cat "$work/client.log"); service: $(cat "$work/service.log")"
sleep 1 # a box opened by the start-up would be mapped by now
windows=$(DISPLAY=$display xdotool search --onlyvisible --name . getwindowname %@ 2>/dev/null |
    sort -u)
[ "$windows" = "$caption" ] || fail "visible windows other than the main window: $windows"

kill -TERM "$client"
for _ in $(seq 100); do
    kill -0 "$client" 2>/dev/null || break
    sleep 0.1
done
kill -0 "$client" 2>/dev/null && fail "the client did not end within 10 s of SIGTERM"
wait "$client" || fail "the client ended with status $?: $(cat "$work/client.log")"
ini=$home/.config/corvale/corvale.ini
grep -q '^\[Columns\]' "$ini" || fail "the client did not write its settings to $ini"
[ "$(stat -c %U "$ini")" = "$user" ] || fail "$ini is not owned by $user"
[ ! -e "$bin/corvale.ini" ] || fail "the client wrote $bin/corvale.ini"
echo "install test: passed ($(grep -c 'cmd.php' "$work/service.log") service requests," \
    "settings in ~/.config/corvale/corvale.ini)"
