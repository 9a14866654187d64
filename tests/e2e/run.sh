#!/bin/bash
# End-to-end suite: tesk on a real, namespaced network, judged by software we did not write.
# tshark's Wake-on-LAN dissector reads what reaches the segment "lan"; Debian's wakeonlan and
# scapy are clients of the proxy daemon beside tesk itself. The topology is in topology.sh.
#
# Usage: run.sh TESK_BINARY [SYSTEM_CONFIG]
# Exit status: 0 all scenarios passed, 1 a failure, 77 skipped (no root or no namespaces).
set -u
# ip, ss and sysctl live in the system directories, which a CI job's PATH may lack.
PATH=$PATH:/usr/sbin:/sbin

TESK=${1:?usage: run.sh TESK_BINARY [SYSTEM_CONFIG]}
E2E_SYSCONFIG=${2:-/usr/local/etc/tesk.conf}
HERE=$(cd "$(dirname "$0")" && pwd)
. "$HERE/topology.sh"

# The table below writes the proxy's address (198.51.100.1) and this secret out in full.
PROXY_SECRET=c0:ff:ee:00:42:17

# Which frames each scenario must leave on its capture point, and what the proxy daemon must say.
#
#   daemon    the proxy daemon that runs on "proxy" during the scenario: none; fg (-F -d);
#             fg-secret (-F -d -S $PROXY_SECRET); detached (-S $PROXY_SECRET, no -F)
#   from      where the command runs: h1 (on lan) or client (on wan)
#   sync      when the command's effect is complete: exit (the command has ended), daemon (the
#             daemon is back waiting after one datagram), settle (one second after the end)
#   on        the capture point: lan (h2's eth0) or wan (the proxy's wan0)
#   frames    "none", or "COUNTx DESTINATION PORT MAC PASSWORD" joined by ";", in order, as
#             tshark reads them (PASSWORD "-" for none)
#   says      for a daemon in the foreground: its "***" trace lines, then its standard output,
#             joined by ";", compared whole ("" for nothing); "-" where it is not looked at
#   command   a shell command; tesk, wakeonlan and wol_craft.py are on its PATH
#
# Hosts: the sender's configuration is sender.conf, the daemon's proxy.conf (both below).
SCENARIOS='
MAC, three copies             |none     |h1    |exit  |lan|3x 255.255.255.255 7 02:00:5e:10:00:01 -|-|tesk -c 3 02:00:5e:10:00:01
ethers name                   |none     |h1    |exit  |lan|1x 255.255.255.255 7 02:00:5e:10:00:05 -|-|tesk lab-printer
MAC, 6-byte -s password       |none     |h1    |exit  |lan|1x 255.255.255.255 7 02:00:5e:10:00:01 01:23:45:67:89:ab|-|tesk -s 01-23-45-67-89-ab 02:00:5e:10:00:01
host, 6-byte password         |none     |h1    |exit  |lan|2x 255.255.255.255 7 02:00:5e:10:00:02 01:02:03:04:05:06|-|tesk -f sender.conf pc-six
host, 4-byte password         |none     |h1    |exit  |lan|1x 255.255.255.255 7 02:00:5e:10:00:03 192.0.2.200|-|tesk -f sender.conf pc-four
group                         |none     |h1    |exit  |lan|2x 255.255.255.255 7 02:00:5e:10:00:02 01:02:03:04:05:06;1x 255.255.255.255 7 02:00:5e:10:00:03 192.0.2.200|-|tesk -f sender.conf night
subnet-directed broadcast     |none     |h1    |exit  |lan|1x 192.0.2.255 7 02:00:5e:10:00:04 -|-|tesk -f sender.conf pc-subnet
IPv6 all-nodes, link scope    |none     |h1    |exit  |lan|1x ff02::1 7 02:00:5e:10:00:06 -|-|tesk -f sender.conf pc-link6
client broadcast stays on wan |none     |client|exit  |wan|1x 255.255.255.255 7 02:00:5e:20:00:01 -|-|tesk 02:00:5e:20:00:01
client broadcast misses lan   |none     |client|exit  |lan|none|-|tesk 02:00:5e:20:00:01
proxy: wakeonlan              |fg       |client|daemon|lan|1x 255.255.255.255 7 02:00:5e:20:00:01 -|Got WoL for host: lab-a (02:00:5e:20:00:01)|wakeonlan -i 198.51.100.1 -p 10007 02:00:5e:20:00:01
proxy: tesk, own password     |fg       |client|daemon|lan|1x 255.255.255.255 7 02:00:5e:20:00:02 0a:0b:0c:0d:0e:0f|Got WoL for host: lab-b (02:00:5e:20:00:02)|tesk -a 198.51.100.1 -p 10007 02:00:5e:20:00:02
proxy: scapy, no trailer      |fg       |client|daemon|lan|1x 255.255.255.255 7 02:00:5e:20:00:01 -|Got WoL for host: lab-a (02:00:5e:20:00:01)|wol_craft.py 198.51.100.1 10007 02:00:5e:20:00:01 good
proxy: unknown MAC            |fg       |client|daemon|lan|none|*** Unknown MAC (no such host): 02:00:5e:20:00:99|wakeonlan -i 198.51.100.1 -p 10007 02:00:5e:20:00:99
proxy: 101 bytes              |fg       |client|daemon|lan|none|*** Invalid WoL message (too short: 101 bytes)|wol_craft.py 198.51.100.1 10007 02:00:5e:20:00:01 short
proxy: bad header             |fg       |client|daemon|lan|none|*** Invalid WoL message (invalid header)|wol_craft.py 198.51.100.1 10007 02:00:5e:20:00:01 header
proxy: bad copy 15            |fg       |client|daemon|lan|none|*** Invalid WoL message (invalid MAC content copies)|wol_craft.py 198.51.100.1 10007 02:00:5e:20:00:01 copies
proxy: trailer, no -S         |fg       |client|daemon|lan|none|*** Received secret: c0:ff:ee:00:42:17;*** Invalid received secret: c0:ff:ee:00:42:17|wol_craft.py 198.51.100.1 10007 02:00:5e:20:00:01 good c0:ff:ee:00:42:17
proxy -S: tesk -s             |fg-secret|client|daemon|lan|1x 255.255.255.255 7 02:00:5e:20:00:01 -|*** Received secret: c0:ff:ee:00:42:17;Got WoL for host: lab-a (02:00:5e:20:00:01)|tesk -a 198.51.100.1 -p 10007 -s c0:ff:ee:00:42:17 02:00:5e:20:00:01
proxy -S: scapy trailer       |fg-secret|client|daemon|lan|1x 255.255.255.255 7 02:00:5e:20:00:02 0a:0b:0c:0d:0e:0f|*** Received secret: c0:ff:ee:00:42:17;Got WoL for host: lab-b (02:00:5e:20:00:02)|wol_craft.py 198.51.100.1 10007 02:00:5e:20:00:02 good c0:ff:ee:00:42:17
proxy -S: wrong secret        |fg-secret|client|daemon|lan|none|*** Received secret: c0:ff:ee:00:42:18;*** Invalid received secret: c0:ff:ee:00:42:18|wol_craft.py 198.51.100.1 10007 02:00:5e:20:00:01 good c0:ff:ee:00:42:18
proxy -S: secret + 1 byte     |fg-secret|client|daemon|lan|none|*** Received secret: c0:ff:ee:00:42:17:00;*** Invalid received secret: c0:ff:ee:00:42:17:00|wol_craft.py 198.51.100.1 10007 02:00:5e:20:00:01 good c0:ff:ee:00:42:17:00
proxy -S: tesk, wrong -s      |fg-secret|client|daemon|lan|none|*** Received secret: 192.0.2.9;*** Invalid received secret: 192.0.2.9|tesk -a 198.51.100.1 -p 10007 -s 192.0.2.9 02:00:5e:20:00:01
proxy -S: wakeonlan, none     |fg-secret|client|daemon|lan|none|*** Missing received secret|wakeonlan -i 198.51.100.1 -p 10007 02:00:5e:20:00:01
proxy detached: tesk -s       |detached |client|settle|lan|1x 255.255.255.255 7 02:00:5e:20:00:01 -|-|tesk -a 198.51.100.1 -p 10007 -s c0:ff:ee:00:42:17 02:00:5e:20:00:01
proxy detached: wakeonlan     |detached |client|settle|lan|none|-|wakeonlan -i 198.51.100.1 -p 10007 02:00:5e:20:00:01
'

write_files() {
    mkdir -p "$E2E_WORK/bin" "$E2E_WORK/home" "$E2E_WORK/etc.d" "$E2E_WORK/etc.layer" || return 1
    ln -s "$TESK" "$E2E_WORK/bin/tesk" &&
        printf '#!/bin/sh\nexec %s %s "$@"\n' "$E2E_PYTHON" "$HERE/wol_craft.py" \
            >"$E2E_WORK/bin/wol_craft.py" &&
        chmod +x "$E2E_WORK/bin/wol_craft.py" || return 1
    printf 'ethers: files\nhosts: files\n' >"$E2E_WORK/etc.d/nsswitch.conf"
    printf '02:00:5e:10:00:05 lab-printer\n' >"$E2E_WORK/etc.d/ethers"
    cat >"$E2E_WORK/home/sender.conf" <<'EOF'
; What h1 wakes on lan: through the limited broadcast, the segment's broadcast address and
; the IPv6 all-nodes group on eth0.
gateway segment address 192.0.2.255 port 7
gateway link6 address ff02::1%eth0 port 7
host pc-six mac 02:00:5e:10:00:02 copies 2 secret 01:02:03:04:05:06
host pc-four mac 02:00:5e:10:00:03 secret 192.0.2.200
host pc-subnet mac 02:00:5e:10:00:04 via segment
host pc-link6 mac 02:00:5e:10:00:06 via link6
[night]
host pc-six
host pc-four
EOF
    cat >"$E2E_WORK/home/proxy.conf" <<'EOF'
; What the proxy wakes on lan for its clients; lab-b has a password of its own.
host lab-a mac 02:00:5e:20:00:01
host lab-b mac 02:00:5e:20:00:02 secret 0a:0b:0c:0d:0e:0f
EOF
}

find_prerequisites() {
    [ "$(uname -s)" = Linux ] || e2e_skip "network namespaces need Linux"
    [ "$(id -u)" = 0 ] || e2e_skip "network namespaces need root"
    [ -x "$TESK" ] || { echo "e2e: FAILED: $TESK: no such program"; exit 1; }
    local tool missing=""
    for tool in ip ss sysctl unshare mount tshark wakeonlan; do
        command -v "$tool" >/dev/null || missing="$missing $tool"
    done
    E2E_PYTHON=""
    for tool in /usr/bin/python3 python3; do
        if "$tool" -c 'import scapy.layers.inet' 2>/dev/null; then
            E2E_PYTHON=$(command -v "$tool")
            break
        fi
    done
    [ -n "$E2E_PYTHON" ] || missing="$missing python3-scapy"
    [ -z "$missing" ] || e2e_cannot_run "missing:$missing (tests/e2e/packages lists the packages)"
    [ -e /proc/sys/net/ipv6 ] || e2e_cannot_run "the kernel has no IPv6"
    local probe=${E2E_PREFIX}probe
    if ! ip netns add "$probe" 2>/dev/null; then
        e2e_skip "network namespaces are not available"
    fi
    ip netns delete "$probe"
}

# The proxy daemon of the current scenario, started by us; its PID is DAEMON_PID.
DAEMON_MODE=none
DAEMON_PID=""
DAEMON_OUT=/dev/null
DAEMON_ERR=/dev/null

listening_pid() {
    in_ns "$NS_PROXY" ss -Hlunp 'sport = :10007' | grep -o 'pid=[0-9]*' | head -n 1 | cut -d= -f2
}
is_listening() { [ -n "$(listening_pid)" ]; }

gone() {
    [ ! -e "/proc/$1" ] || [ "$(awk '{ print $3 }' "/proc/$1/stat" 2>/dev/null)" = Z ]
}

daemon_stop() {
    if [ -n "$DAEMON_PID" ]; then
        kill -TERM "$DAEMON_PID" 2>/dev/null
        wait_until 5 gone "$DAEMON_PID" || kill -KILL "$DAEMON_PID" 2>/dev/null
        wait "$DAEMON_PID" 2>/dev/null
    fi
    DAEMON_PID=""
    DAEMON_MODE=none
}

# daemon_switch MODE: makes MODE the running daemon; false with the reason in DAEMON_PROBLEM.
# A mode that failed to start once is not tried again.
declare -A DAEMON_BROKEN
daemon_switch() {
    [ "$1" = "$DAEMON_MODE" ] && return 0
    DAEMON_PROBLEM=${DAEMON_BROKEN[$1]:-}
    [ -z "$DAEMON_PROBLEM" ] || return 1
    daemon_stop
    daemon_start "$1" && return 0
    DAEMON_BROKEN[$1]=$DAEMON_PROBLEM
    return 1
}

# daemon_start MODE: starts the daemon of MODE and waits until it serves; false with the reason
# in DAEMON_PROBLEM.
daemon_start() {
    local args=(-f proxy.conf)
    DAEMON_OUT=$E2E_WORK/daemon-$1.out
    DAEMON_ERR=$E2E_WORK/daemon-$1.err
    case $1 in
        none) return 0 ;;
        fg) args+=(-D -F -d) ;;
        fg-secret) args+=(-D -F -d -S "$PROXY_SECRET") ;;
        detached) args+=(-D -S "$PROXY_SECRET") ;;
    esac
    isolated "$NS_PROXY"
    if [ "$1" = detached ]; then
        # The process started returns once its child has detached; the child is the daemon.
        "${ISOLATED[@]}" tesk "${args[@]}" </dev/null >"$DAEMON_OUT" 2>"$DAEMON_ERR"
        local status=$?
        if [ "$status" -ne 0 ]; then
            DAEMON_PROBLEM="tesk -D ended with status $status; stderr: $(cat "$DAEMON_ERR")"
            return 1
        fi
        if ! wait_until 5 is_listening; then
            DAEMON_PROBLEM="no detached daemon listens on port 10007"
            return 1
        fi
        DAEMON_PID=$(listening_pid)
    else
        "${ISOLATED[@]}" tesk "${args[@]}" </dev/null >"$DAEMON_OUT" 2>"$DAEMON_ERR" &
        DAEMON_PID=$!
        if ! wait_until 5 waiting_at_least 1; then
            DAEMON_PROBLEM="the daemon does not wait for datagrams; stderr: $(cat "$DAEMON_ERR")"
            daemon_stop
            return 1
        fi
        if [ "$(listening_pid)" != "$DAEMON_PID" ]; then
            DAEMON_PROBLEM="port 10007 on proxy is not held by the daemon (PID $DAEMON_PID)"
            daemon_stop
            return 1
        fi
    fi
    DAEMON_MODE=$1
}

# How often the daemon has gone back to waiting: once at start and once after each datagram.
waiting_count() {
    local count
    count=$(grep -c '^(Waiting for messages on ' "$DAEMON_ERR" 2>/dev/null)
    echo "${count:-0}"
}
waiting_at_least() { [ "$(waiting_count)" -ge "$1" ]; }

indent() { [ -z "$1" ] || printf '%s\n' "$1" | sed 's/^/    /'; }

# "2x A;1x B" gives the lines A, A, B.
expand_frames() {
    [ "$1" = none ] && return 0
    local item
    local IFS=';'
    for item in $1; do
        local count=${item%%x *}
        local i
        for ((i = 0; i < count; i++)); do
            printf '%s\n' "${item#*x }"
        done
    done
}

# What the daemon said since the scenario began: its new "***" trace lines, then its new output.
daemon_said() {
    tail -n "+$(($2 + 1))" "$DAEMON_ERR" | grep '^\*\*\* '
    tail -n "+$(($1 + 1))" "$DAEMON_OUT"
}

trim() {
    local text=$1
    text=${text#"${text%%[![:space:]]*}"}
    printf '%s' "${text%"${text##*[![:space:]]}"}"
}

# What each scenario left to judge once the captures are complete, by scenario number.
declare -a NAMES COMMANDS POINTS FRAMES PROBLEMS

# run_scenario NAME DAEMON FROM SYNC ON FRAMES SAYS COMMAND: runs scenario $SCENARIO between
# the markers "begin N" and "end N" on its capture point and judges all but its frames.
run_scenario() {
    local name=$1 daemon=$2 from=$3 sync=$4 on=$5 frames=$6 says=$7 command=$8
    local problems="" ns
    case $from in h1) ns=$NS_H1 ;; client) ns=$NS_CLIENT ;; esac
    NAMES[SCENARIO]=$name
    POINTS[SCENARIO]=$on
    FRAMES[SCENARIO]=$frames
    COMMANDS[SCENARIO]="  command (on $from): $command"$'\n'
    PROBLEMS[SCENARIO]=""

    if ! daemon_switch "$daemon"; then
        PROBLEMS[SCENARIO]+="  cannot start the daemon \"$daemon\": $DAEMON_PROBLEM"$'\n'
        return
    fi
    local out_mark=0 err_mark=0 waits=0
    if [ -n "$DAEMON_PID" ]; then
        out_mark=$(wc -l <"$DAEMON_OUT")
        err_mark=$(wc -l <"$DAEMON_ERR")
        waits=$(waiting_count)
    fi

    capture_send "$on" "begin $SCENARIO"
    local sender_err=$E2E_WORK/sender-$SCENARIO.err status
    isolated "$ns"
    "${ISOLATED[@]}" /bin/sh -c "$command" </dev/null >/dev/null 2>"$sender_err"
    status=$?
    case $sync in
        daemon)
            wait_until 5 waiting_at_least $((waits + 1)) ||
                problems+="  the daemon did not finish with the datagram within 5 s"$'\n'
            ;;
        settle) sleep 1 ;;
    esac
    capture_send "$on" "end $SCENARIO"

    [ "$status" -eq 0 ] ||
        problems+="  the command ended with status $status; stderr: $(cat "$sender_err")"$'\n'
    if [ "$says" != - ]; then
        local expected=${says//;/$'\n'} seen
        seen=$(daemon_said "$out_mark" "$err_mark")
        if [ "$seen" != "$expected" ]; then
            problems+="  the daemon said, expected"$'\n'"$(indent "${expected:-(nothing)}")"$'\n'
            problems+="  seen"$'\n'"$(indent "${seen:-(nothing)}")"$'\n'
        fi
    fi
    if [ -n "$DAEMON_PID" ] && gone "$DAEMON_PID"; then
        problems+="  the daemon is gone; the end of its stderr:"$'\n'
        problems+="$(indent "$(tail -n 5 "$DAEMON_ERR")")"$'\n'
        wait "$DAEMON_PID" 2>/dev/null
        DAEMON_PID=""
        DAEMON_MODE=none
    fi
    [ -z "$problems" ] || PROBLEMS[SCENARIO]+=$problems
}

# judge N: adds the frames of scenario N to its problems and prints its verdict.
judge() {
    local on=${POINTS[$1]} problems="" expected seen
    expected=$(expand_frames "${FRAMES[$1]}")
    seen=$(capture_frames "$on" "begin $1" "end $1")
    if ! capture_seen "$on" "begin $1" || ! capture_seen "$on" "end $1"; then
        problems+="  the capture on $on lacks the markers \"begin $1\" and \"end $1\""$'\n'
    elif [ "$seen" != "$expected" ]; then
        problems+="  frames on $on: expected"$'\n'"$(indent "${expected:-(none)}")"$'\n'
        problems+="  seen"$'\n'"$(indent "${seen:-(none)}")"$'\n'
    fi
    problems=${PROBLEMS[$1]}$problems
    if [ -z "$problems" ]; then
        PASSED=$((PASSED + 1))
        printf 'ok   %s\n' "${NAMES[$1]}"
    else
        FAILED=$((FAILED + 1))
        printf 'FAIL %s\n%s%s' "${NAMES[$1]}" "${COMMANDS[$1]}" "$problems"
    fi
}

teardown() {
    capture_close
    daemon_stop
    topo_teardown
    [ -n "${E2E_WORK:-}" ] && rm -rf "$E2E_WORK"
}

find_prerequisites
E2E_WORK=$(mktemp -d /tmp/tesk-e2e.XXXXXX) || exit 1
trap teardown EXIT
trap 'exit 130' INT TERM
write_files || { echo "e2e: FAILED: cannot write the suite's files"; exit 1; }
topo_build || { echo "e2e: FAILED: cannot build the topology"; exit 1; }
if ! capture_open lan "$NS_H2" eth0 192.0.2.255 || ! capture_open wan "$NS_PROXY" wan0 198.51.100.255
then
    echo "e2e: FAILED: tshark does not capture: $(cat "$E2E_WORK"/capture-*.log)"
    exit 1
fi

started=$SECONDS
SCENARIO=0
while IFS='|' read -r name daemon from sync on frames says command; do
    name=$(trim "$name")
    [ -n "$name" ] || continue
    SCENARIO=$((SCENARIO + 1))
    run_scenario "$name" "$(trim "$daemon")" "$(trim "$from")" "$(trim "$sync")" "$(trim "$on")" \
        "$(trim "$frames")" "$(trim "$says")" "$(trim "$command")"
done <<<"$SCENARIOS"
daemon_stop

# Every frame of every scenario is in the captures once a last marker has come through.
complete=1
for point in lan wan; do
    capture_mark "$point" "done" || complete=0
done
PASSED=0
FAILED=0
for ((n = 1; n <= SCENARIO; n++)); do
    judge "$n"
done
if [ "$complete" -eq 0 ]; then
    FAILED=$((FAILED + 1))
    echo "FAIL the captures did not show their last marker: $(cat "$E2E_WORK"/capture-*.log)"
fi
echo "e2e: $PASSED passed, $FAILED failed ($((SECONDS - started)) s)"
[ "$FAILED" -eq 0 ]
