# shellcheck shell=bash
# Network namespaces for the end-to-end suite, sourced by run.sh.
#
#        h1 (192.0.2.11)   h2 (192.0.2.12)
#          eth0               eth0
#            \                 /
#             h1p   br0    h2p          namespace "lan": the segment's bridge
#                    |
#                   pxp
#                    |
#                  lan0 (192.0.2.1)     namespace "proxy"
#                  wan0 (198.51.100.1)
#                    |
#                  eth0 (198.51.100.2)  namespace "client", on the link "wan" only
#
# Every namespace is named $E2E_PREFIX<role>, so that parallel runs never meet. Nothing leaves
# them: the machine's own namespace only configures them. Teardown stops the processes inside
# them (all started by this suite) by PID and deletes them.

E2E_PREFIX="tesk-e2e-$$-"
NS_LAN=${E2E_PREFIX}lan
NS_H1=${E2E_PREFIX}h1
NS_H2=${E2E_PREFIX}h2
NS_PROXY=${E2E_PREFIX}proxy
NS_CLIENT=${E2E_PREFIX}client
E2E_NAMESPACES="$NS_LAN $NS_H1 $NS_H2 $NS_PROXY $NS_CLIENT"
E2E_CREATED=""

E2E_SKIPPED=77

e2e_skip() {
    echo "e2e: SKIPPED: $*"
    exit "$E2E_SKIPPED"
}

# Not being able to run is a skip on a developer's machine, a failure in CI: there the test
# command has installed everything, and a skip would hide a missing step.
e2e_cannot_run() {
    if [ -n "${CI:-}" ]; then
        echo "e2e: FAILED: $* (CI must run this suite)"
        exit 1
    fi
    e2e_skip "$*"
}

# wait_until SECONDS COMMAND...: runs COMMAND every 50 ms until it succeeds; false on time-out.
wait_until() {
    local tries=$(($1 * 20))
    shift
    while ! "$@"; do
        tries=$((tries - 1))
        [ "$tries" -gt 0 ] || return 1
        sleep 0.05
    done
}

in_ns() {
    local ns=$1
    shift
    ip netns exec "$ns" "$@"
}

topo_add_ns() {
    ip netns add "$1" || return 1
    E2E_CREATED="$E2E_CREATED $1"
    ip -n "$1" link set lo up
    # Link-local IPv6 addresses are usable at once, without duplicate address detection.
    in_ns "$1" sysctl -qw net.ipv6.conf.all.accept_dad=0 net.ipv6.conf.default.accept_dad=0
}

# topo_link NS_A IF_A NS_B IF_B: a veth pair between two namespaces, both ends up.
topo_link() {
    ip -n "$1" link add "$2" type veth peer name "$4" netns "$3" &&
        ip -n "$1" link set "$2" up && ip -n "$3" link set "$4" up
}

has_link_local() {
    [ -n "$(ip -n "$1" -6 addr show dev "$2" scope link -tentative 2>/dev/null)" ]
}

topo_build() {
    local ns port
    for ns in $E2E_NAMESPACES; do
        topo_add_ns "$ns" || return 1
    done
    ip -n "$NS_LAN" link add br0 type bridge stp_state 0 forward_delay 0 &&
        ip -n "$NS_LAN" link set br0 up || return 1
    topo_link "$NS_LAN" h1p "$NS_H1" eth0 &&
        topo_link "$NS_LAN" h2p "$NS_H2" eth0 &&
        topo_link "$NS_LAN" pxp "$NS_PROXY" lan0 &&
        topo_link "$NS_PROXY" wan0 "$NS_CLIENT" eth0 || return 1
    for port in h1p h2p pxp; do
        ip -n "$NS_LAN" link set "$port" master br0 || return 1
    done

    ip -n "$NS_H1" addr add 192.0.2.11/24 dev eth0 &&
        ip -n "$NS_H2" addr add 192.0.2.12/24 dev eth0 &&
        ip -n "$NS_PROXY" addr add 192.0.2.1/24 dev lan0 &&
        ip -n "$NS_PROXY" addr add 198.51.100.1/24 dev wan0 &&
        ip -n "$NS_CLIENT" addr add 198.51.100.2/24 dev eth0 || return 1
    # The limited broadcast follows the default route: on lan for its hosts and the proxy, on
    # wan for the client. The proxy forwards nothing, so the client cannot reach lan at all.
    ip -n "$NS_H1" route add default via 192.0.2.1 &&
        ip -n "$NS_H2" route add default via 192.0.2.1 &&
        ip -n "$NS_PROXY" route add default dev lan0 &&
        ip -n "$NS_CLIENT" route add default via 198.51.100.1 || return 1
    in_ns "$NS_PROXY" sysctl -qw net.ipv4.ip_forward=0 net.ipv6.conf.all.forwarding=0 || return 1

    wait_until 5 has_link_local "$NS_H1" eth0 && wait_until 5 has_link_local "$NS_H2" eth0
}

# Stops every process in the suite's namespaces by PID (only this suite enters them), then
# deletes the namespaces. Safe to call more than once and on a half-built topology.
topo_teardown() {
    local ns pid pids round
    for round in TERM TERM TERM KILL; do
        pids=""
        for ns in $E2E_CREATED; do
            pids="$pids $(ip netns pids "$ns" 2>/dev/null)"
        done
        [ -n "${pids// /}" ] || break
        for pid in $pids; do
            kill -s "$round" "$pid" 2>/dev/null
        done
        sleep 0.2
    done
    for ns in $E2E_CREATED; do
        ip netns delete "$ns" 2>/dev/null
    done
    E2E_CREATED=""
}

# isolated NS: sets ISOLATED to the command words that run a command in NS and in a mount
# namespace of its own, where /etc/ethers and /etc/nsswitch.conf are the suite's
# ($E2E_WORK/etc.d), the system-wide configuration file of tesk ($E2E_SYSCONFIG) is empty, HOME
# and the working directory are $E2E_WORK/home and $E2E_WORK/bin comes first in PATH. A bind
# mount needs a file to cover: when /etc lacks one, an overlay with empty placeholders is laid
# over /etc first, inside that mount namespace only. Each step execs the next, so a command
# started in the background has the PID that $! gives.
isolated() {
    # shellcheck disable=SC2034,SC2016 # for the caller; the script expands inside the namespace
    ISOLATED=(ip netns exec "$1" unshare --mount --propagation private
        env HOME="$E2E_WORK/home" PATH="$E2E_WORK/bin:$PATH"
        E2E_WORK="$E2E_WORK" E2E_SYSCONFIG="$E2E_SYSCONFIG" /bin/sh -c '
            set -e
            if [ ! -e /etc/ethers ] || [ ! -e /etc/nsswitch.conf ]; then
                layer=$E2E_WORK/etc.layer
                mount -t tmpfs tesk-e2e "$layer"
                mkdir "$layer/upper" "$layer/work"
                [ -e /etc/ethers ] || : >"$layer/upper/ethers"
                [ -e /etc/nsswitch.conf ] || : >"$layer/upper/nsswitch.conf"
                mount -t overlay tesk-e2e \
                    -o "lowerdir=/etc,upperdir=$layer/upper,workdir=$layer/work" /etc
            fi
            mount --bind "$E2E_WORK/etc.d/ethers" /etc/ethers
            mount --bind "$E2E_WORK/etc.d/nsswitch.conf" /etc/nsswitch.conf
            if [ -e "$E2E_SYSCONFIG" ]; then mount --bind /dev/null "$E2E_SYSCONFIG"; fi
            cd "$HOME"
            exec "$@"' tesk-e2e)
}

# Capture points: one tshark per point for the whole run, dissecting live the UDP datagrams to
# port 7 on one interface, one line of fields per frame. Echo, the other user of port 7, is
# turned off so that the Wake-on-LAN dissector reads them. Datagrams to port 7777 are markers
# that the point's own namespace sends to the segment's broadcast address with $E2E_PYTHON; the
# frames of one scenario are those between its two markers.
declare -A CAPTURE_NS CAPTURE_BROADCAST CAPTURE_PID

# capture_open POINT NS IFACE BROADCAST: starts the capture and returns once it is live.
capture_open() {
    CAPTURE_NS[$1]=$2
    CAPTURE_BROADCAST[$1]=$4
    ip netns exec "$2" tshark -l -i "$3" -f 'udp port 7 or udp port 7777' -a duration:300 \
        --disable-protocol echo -T fields -E separator=/t \
        -e ip.dst -e ipv6.dst -e udp.dstport -e wol.mac -e wol -e data.data \
        </dev/null >"$E2E_WORK/capture-$1.txt" 2>"$E2E_WORK/capture-$1.log" &
    CAPTURE_PID[$1]=$!
    capture_mark "$1" open
}

capture_close() {
    local point
    for point in "${!CAPTURE_PID[@]}"; do
        kill -TERM "${CAPTURE_PID[$point]}" 2>/dev/null
        wait "${CAPTURE_PID[$point]}" 2>/dev/null
        unset "CAPTURE_PID[$point]"
    done
}

hex_of() { printf '%s' "$1" | od -An -tx1 | tr -d ' \n'; }

# capture_seen POINT TEXT: true when tshark has shown the marker TEXT.
capture_seen() {
    grep -q "$(printf '\t%s$' "$(hex_of "$2")")" "$E2E_WORK/capture-$1.txt"
}

# capture_send POINT TEXT: sends one marker. Frames that reached the point before are ahead of
# it in the capture: a sender's frame crosses the veth pairs and the bridge within its sendto.
capture_send() {
    ip netns exec "${CAPTURE_NS[$1]}" "$E2E_PYTHON" -c '
import socket, sys
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
s.sendto(sys.argv[2].encode(), (sys.argv[1], 7777))' "${CAPTURE_BROADCAST[$1]}" "$2"
}

# capture_mark POINT TEXT: sends the marker TEXT until tshark has shown it, for at most 10 s.
# tshark shows a frame up to a second after it came, so scenarios only send their markers, and
# their frames are read once the last marker has been shown.
capture_mark() {
    local tries=50
    while ! capture_seen "$1" "$2"; do
        tries=$((tries - 1))
        [ "$tries" -gt 0 ] && kill -0 "${CAPTURE_PID[$1]}" 2>/dev/null || return 1
        capture_send "$1" "$2"
        sleep 0.2
    done
}

# capture_frames POINT BEGIN END: one line per frame to port 7 between the markers BEGIN and
# END, as tshark's Wake-on-LAN dissector read it: "DESTINATION PORT MAC PASSWORD". MAC is the
# address when the dissector found sixteen equal copies, else what it found ("?" for none);
# PASSWORD is the password as its summary shows it (01:23:45:67:89:ab or 192.0.2.200), "-" when
# it shows none. The summary is the dissector's own reading; its wol.passwd field holds the
# first bytes of that text, not the password, so it is not used.
capture_frames() {
    awk -F '\t' -v begin="$(hex_of "$2")" -v end="$(hex_of "$3")" '
        $3 == 7777 && $6 == begin { inside = 1; next }
        $3 == 7777 && $6 == end { inside = 0; next }
        inside && $3 == 7 {
            copies = split($4, mac, ",")
            shown = copies == 16 ? mac[1] : ($4 == "" ? "?" : $4)
            for (i = 2; i <= copies; i++) if (mac[i] != mac[1]) shown = $4
            password = "-"
            at = index($5, ", password: ")
            if (at > 0) password = substr($5, at + length(", password: "))
            printf "%s %s %s %s\n", $1 $2, $3, shown, password
        }' "$E2E_WORK/capture-$1.txt"
}
