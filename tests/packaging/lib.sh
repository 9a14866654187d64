# Helpers of the packaging tests, sourced by each test script.
#
# Every script takes the same arguments: the source directory, the build
# directory and the built program. It exits 0 when it passes, 1 when it fails
# and 77 (CTest's SKIP_RETURN_CODE) when what it needs is not there.

source_dir=$1
build_dir=$2
tesk=$3
if [ -z "$source_dir" ] || [ -z "$build_dir" ] || [ -z "$tesk" ]; then
	echo "usage: $0 SOURCE_DIR BUILD_DIR TESK" >&2
	exit 2
fi
# The layout of this build's installation: prefix, sysconfdir, installed, ...
if [ ! -f "$build_dir/packaging/layout.sh" ]; then
	echo "FAIL: $build_dir/packaging/layout.sh is missing: the top-level" \
		"CMakeLists.txt must include cmake/install.cmake" >&2
	exit 1
fi
. "$build_dir/packaging/layout.sh"

# A script that sets private_network before it sources this file runs, when it
# can (as root), in a network namespace of its own with loopback only: the
# daemons that it starts meet no other process's ports, and may take any port.
if [ -n "${private_network:-}" ] && [ -z "${TESK_PRIVATE_NETWORK:-}" ] &&
	[ "$(id -u)" -eq 0 ] && unshare --net true 2>/dev/null; then
	TESK_PRIVATE_NETWORK=1 exec unshare --net sh "$0" "$@"
fi
if [ -n "${TESK_PRIVATE_NETWORK:-}" ]; then
	ip link set lo up || exit 1
fi

failures=0

fail() {
	echo "FAIL: $*" >&2
	failures=$((failures + 1))
}

skip() {
	echo "skipped: $*"
	exit 77
}

# Ends the test: 0 when nothing failed.
finish() {
	if [ "$failures" -ne 0 ]; then
		echo "$failures check(s) failed" >&2
		exit 1
	fi
	exit 0
}

# A fresh directory that is removed when the script ends.
scratch=$(mktemp -d "${TMPDIR:-/tmp}/tesk-packaging.XXXXXX") || exit 1
trap 'rm -rf "$scratch"' EXIT
trap 'exit 1' HUP INT TERM

# check_same NAME EXPECTED_FILE ACTUAL_FILE: the two files are equal byte for byte.
check_same() {
	if ! cmp -s "$2" "$3"; then
		fail "$1 differs:"
		diff -u "$2" "$3" >&2 || :
	fi
}

# The program reads the system configuration file that it was built with.
# The checks that compare its output need that file to set nothing.
require_inert_system_config() {
	if [ -e "$sysconfdir/tesk.conf" ] &&
		sed -e 's/[;#].*//' "$sysconfdir/tesk.conf" | grep -q '[^[:space:]]'; then
		skip "$sysconfdir/tesk.conf sets something; its settings would change the output"
	fi
}

# Prints the literal displays (.Bd -literal to .Ed) of the manual $1, each
# followed by a line "--".
manual_displays() {
	awk '/^\.Ed/ { if (on) print "--"; on = 0; next }
		on { print }
		/^\.Bd -literal/ { on = 1 }' "$1"
}

# manual_display FILE N: the Nth literal display of the manual FILE.
manual_display() {
	manual_displays "$1" | awk -v n="$2" '$0 == "--" { k++; next } k == n - 1 { print }'
}

# Runs the program without HOME, so that no per-user file is read.
run_tesk() {
	env -u HOME "$@"
}

# The usage text of the program called as $1, byte for byte.
expected_usage() {
	cat <<USAGE
Usage: $1 [<options>] [<host|group> [.. <host|group>]]

Options:
  -h           Display this information
  -v           Increase verbosity
  -d           Increase debug level
  -i           Ignore errors
  -n           Toggle "no" send mode
  -e           Export configuration
  -f <path>    Configuration file

  -g <name>    Destination gateway
  -a <addr>    Destination address
  -p <port>    Destination port
  -t <time>    Inter-packet delay
  -T <time>    Inter-host delay
  -c <count>   Packet copies to send
  -s <secret>  Force WoL secret

  -D           Run as proxy daemon
  -F           Run proxy daemon in foreground
  -A <addr>    Proxy daemon listen address
  -P <port>    Proxy daemon listen port
  -S <secret>  Proxy daemon secret

If no hosts/groups specified on the command line tesk will read them from stdin
USAGE
}

# The option letters of the usage text that the program at $1 prints, one a
# line, each followed by its value's name if it takes one ("f path").
usage_options() {
	run_tesk "$1" -h | sed -n 's/^  -\(.\) *\(<\([a-z]*\)>\)\{0,1\} .*/\1 \3/p' | sed 's/ $//'
}

# stop_started PID: ends the process PID that this script started, if it still
# runs, and reaps it. Status 0 when it still ran; else 1, with the status that
# it ended with in ended_status.
stop_started() {
	if kill -0 "$1" 2>/dev/null; then
		kill "$1"
		wait "$1" 2>/dev/null
		return 0
	fi
	wait "$1"
	ended_status=$?
	return 1
}

# check_foreground_daemon WHAT ARGUMENT...: the program run with the daemon's
# arguments (which must listen on 127.0.0.1, port $daemon_port, and read
# $daemon_config) stays in the foreground and relays a magic packet sent to it.
# The scratch directory can be passed through, so that the daemon may run as
# another user; the configuration is readable by every user.
daemon_port=$((20000 + $$ % 20000))
daemon_config=$scratch/daemon.conf
cat >"$daemon_config" <<CONF
gateway sink address 127.0.0.1 port $((daemon_port + 1))
host pc1 mac 00:00:5e:00:53:01 via sink
CONF
chmod 0711 "$scratch"
chmod 0644 "$daemon_config"
check_foreground_daemon() {
	what=$1
	shift
	: >"$scratch/daemon.out"
	# Started directly, not through a function, so that $! is the program.
	env -u HOME "$@" >"$scratch/daemon.out" 2>"$scratch/daemon.err" &
	daemon=$!
	relayed=
	tries=0
	while [ "$tries" -lt 50 ]; do
		if ! kill -0 "$daemon" 2>/dev/null; then
			break
		fi
		run_tesk "$tesk" -a 127.0.0.1 -p "$daemon_port" 00:00:5e:00:53:01 2>/dev/null
		if grep -q . "$scratch/daemon.out"; then
			relayed=1
			break
		fi
		sleep 0.1
		tries=$((tries + 1))
	done
	if ! stop_started "$daemon"; then
		fail "$what: the daemon ended with status $ended_status instead of staying in the foreground"
		cat "$scratch/daemon.err" >&2
		# A daemon that detached goes on; its arguments name this test's file.
		ps -ax -o pid= -o args= | grep -F -- "$daemon_config" | grep -v grep |
			while read -r pid _; do kill "$pid"; done
		return
	fi
	if [ -z "$relayed" ]; then
		fail "$what: the daemon did not relay a magic packet"
	else
		# Every packet that reached it, one or more, gives the same line.
		printf 'Got WoL for host: pc1 (00:00:5e:00:53:01)\n' >"$scratch/daemon.expected"
		sort -u "$scratch/daemon.out" >"$scratch/daemon.lines"
		check_same "$what: the daemon's output" "$scratch/daemon.expected" "$scratch/daemon.lines"
	fi
}

# The account of the daemon's system user, with its uid as U and its gid as G:
# what the sysusers.d file declares and what the Debian package makes.
daemon_account='tesk:x:U:G:tesk Wake-on-LAN proxy daemon:/nonexistent:/usr/sbin/nologin'

# account_shape: the passwd lines of standard input with the uid and gid of a
# system account (1 to 999) as U and G.
account_shape() {
	awk -F: -v OFS=: '$3 > 0 && $3 < 1000 && $4 > 0 && $4 < 1000 { $3 = "U"; $4 = "G" } { print }'
}
