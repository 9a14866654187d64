# The systemd unit passes systemd-analyze verify (its manuals included), its
# sandbox keeps the exposure that systemd-analyze security gives it low, also
# with the firewall drop-in of tesk(1), it runs the daemon as the user that
# its sysusers.d file declares, and its command line, run as that user with
# the unit's capabilities, keeps the daemon in the foreground, binds a port
# below 1024 and reads a configuration readable only by root and that group.
private_network=1
. "$(dirname "$0")/lib.sh"

command -v systemd-analyze >/dev/null 2>&1 || skip "systemd-analyze is not installed"

# The unit as configured, started from the built program instead of the
# installed one, and with the configured manuals in MANPATH for its
# Documentation= lines.
mkdir -p "$scratch/unit" "$scratch/man/man1" "$scratch/man/man5"
cp "$manuals/tesk.1" "$scratch/man/man1/"
cp "$manuals/tesk.conf.5" "$scratch/man/man5/"
grep -q "^ExecStart=$prefix/bin/tesk " "$systemd_unit" ||
	fail "the unit does not start $prefix/bin/tesk"
sed "s|^ExecStart=$prefix/bin/tesk |ExecStart=$tesk |" "$systemd_unit" >"$scratch/unit/tesk.service"

# verify_unit WHAT FILE: systemd-analyze verify passes FILE without a word.
verify_unit() {
	MANPATH=$scratch/man systemd-analyze verify "$2" >"$scratch/verify" 2>&1 ||
		fail "systemd-analyze verify failed for $1"
	if [ -s "$scratch/verify" ]; then
		fail "systemd-analyze verify reports for $1:"
		cat "$scratch/verify" >&2
	fi
}

# security WHAT FILE: the exposure of FILE stays below 3 of 10 ("OK" begins
# at 2); the analysis goes to $scratch/security and its last line to stdout.
security() {
	systemd-analyze security --offline=true --threshold=30 "$2" >"$scratch/security" 2>&1 ||
		fail "the exposure of $1 is above 3"
	echo "$1: $(tail -n 1 "$scratch/security")"
}

# analysed SETTING: what the last analysis says of SETTING, without its exposure.
analysed() {
	awk -v setting="$1" '$2 == setting { $1 = ""; $2 = ""; $NF = $NF ~ /^[0-9.]+$/ ? "" : $NF; print }' \
		"$scratch/security" | sed 's/^ *//; s/ *$//'
}

verify_unit "the unit" "$scratch/unit/tesk.service"
if systemd-analyze security --help 2>/dev/null | grep -q -- '--offline'; then
	security "the unit" "$scratch/unit/tesk.service"
	[ "$(analysed User=/DynamicUser=)" = "Service runs under a static non-root user identity" ] ||
		fail "systemd-analyze security finds of the unit's user: $(analysed User=/DynamicUser=)"

	# The firewall drop-in that tesk(1) shows (the display that sets
	# IPAddressDeny=), added to the unit.
	manual_displays "$source_dir/man/tesk.1" | awk '$0 == "--" { if (shown) exit; display = ""; next }
		{ display = display $0 "\n" }
		/^IPAddressDeny=/ { shown = 1 }
		END { if (shown) printf "%s", display }' >"$scratch/firewall"
	[ "$(sed -n 1p "$scratch/firewall")" = "[Service]" ] ||
		fail "tesk(1) shows no drop-in of a [Service] section with IPAddressDeny="
	cat "$scratch/unit/tesk.service" "$scratch/firewall" >"$scratch/firewalled.service"
	verify_unit "the unit with the drop-in of tesk(1)" "$scratch/firewalled.service"
	security "the unit with the drop-in of tesk(1)" "$scratch/firewalled.service"
	# "Non-localhost" entries: it allows some addresses, and no more.
	[ "$(analysed IPAddressDeny=)" = "Service defines IP address allow list with non-localhost entries" ] ||
		fail "systemd-analyze security finds of the drop-in of tesk(1): $(analysed IPAddressDeny=)"
else
	echo "skipped the exposure checks: systemd-analyze security has no --offline"
fi

# unit_setting NAME: the value of the unit's setting NAME.
unit_setting() {
	sed -n "s/^$1=//p" "$systemd_unit"
}

# The optional environment file that tesk(1) tells of, for flags with a secret.
[ "$(unit_setting EnvironmentFile)" = "-$sysconfdir/tesk.env" ] ||
	fail "the unit's EnvironmentFile= is '$(unit_setting EnvironmentFile)'"
grep -q "^\.It Pa $sysconfdir/tesk.env\$" "$manuals/tesk.1" ||
	fail "tesk(1) does not name $sysconfdir/tesk.env among its files"

# The user of the unit is the one its sysusers.d file makes, made here in a
# root directory of the test's own.
for setting in User Group; do
	[ "$(unit_setting "$setting")" = tesk ] || fail "the unit's $setting= is '$(unit_setting "$setting")'"
done
if command -v systemd-sysusers >/dev/null 2>&1; then
	mkdir -p "$scratch/sysroot/etc"
	if systemd-sysusers --root="$scratch/sysroot" "$sysusers_file" >"$scratch/sysusers.log" 2>&1; then
		echo "$daemon_account" >"$scratch/account.expected"
		grep '^tesk:' "$scratch/sysroot/etc/passwd" | account_shape >"$scratch/account"
		check_same "the account that the sysusers.d file makes" "$scratch/account.expected" \
			"$scratch/account"
		grep -q '^tesk:' "$scratch/sysroot/etc/group" || fail "the sysusers.d file makes no group tesk"
	else
		fail "systemd-sysusers refuses the sysusers.d file:"
		cat "$scratch/sysusers.log" >&2
	fi
else
	echo "skipped the sysusers.d file: systemd-sysusers is not installed"
fi

# The command line of ExecStart, with TESK_FLAGS as an operator would set it.
command_line=$(sed -n "s|^ExecStart=$prefix/bin/tesk ||p" "$systemd_unit")
case $command_line in
*'$TESK_FLAGS'*) ;;
*) fail "ExecStart does not pass TESK_FLAGS" ;;
esac
# unit_arguments PORT: the arguments of ExecStart for a daemon on 127.0.0.1 PORT,
# split as systemd splits an unquoted $VARIABLE.
unit_arguments() {
	echo "$command_line" | sed "s|\\\$TESK_FLAGS|-A 127.0.0.1 -P $1 -f $daemon_config|"
}

# setpriv's form of the unit's capability setting NAME: +net_bind_service,...
unit_capabilities() {
	unit_setting "$1" | tr '[:upper:]' '[:lower:]' | tr ' ' '\n' | sed -n 's/^cap_/+/p' | paste -s -d, -
}

if [ -z "${TESK_PRIVATE_NETWORK:-}" ] || ! command -v setpriv >/dev/null 2>&1; then
	echo "skipped running the unit's command line as an unprivileged user:" \
		"needs root, a network namespace and setpriv"
	# shellcheck disable=SC2046 # split as systemd splits it
	set -- $(unit_arguments "$daemon_port")
	check_foreground_daemon "the unit's ExecStart" "$tesk" "$@"
	finish
fi

# A uid and gid that no account of this machine has stand in for the user
# tesk, which it need not have.
id=61000
while getent passwd "$id" >/dev/null || getent group "$id" >/dev/null; do
	id=$((id + 1))
	[ "$id" -lt 62000 ] || skip "no free uid and gid for a stand-in user"
done
ambient=$(unit_capabilities AmbientCapabilities)
bounding=$(unit_capabilities CapabilityBoundingSet)
[ "$ambient" = +net_bind_service ] || fail "the unit's AmbientCapabilities= are '$ambient'"
[ "$(unit_setting NoNewPrivileges)" = yes ] || fail "the unit does not set NoNewPrivileges=yes"
as_unit_user="setpriv --reuid=$id --regid=$id --clear-groups --no-new-privs --bounding-set=-all,$bounding"
setpriv --reuid="$id" --regid="$id" --clear-groups test -x "$tesk" ||
	skip "the built program cannot be run by other users: $tesk"

# The configuration as tesk.conf(5) advises for one with secrets: owned by
# root, readable by the daemon's group only.
chown "0:$id" "$daemon_config"
chmod 0640 "$daemon_config"

# A port below 1024 with the unit's ambient capabilities; without them the
# daemon may not bind it, which shows that it runs without privilege.
port=700
# shellcheck disable=SC2046,SC2086 # split as systemd splits it
set -- $as_unit_user --inh-caps="$ambient" --ambient-caps="$ambient" "$tesk" $(unit_arguments "$port")
saved_port=$daemon_port
daemon_port=$port
check_foreground_daemon "the unit's ExecStart as an unprivileged user on port $port" "$@"
daemon_port=$saved_port

# shellcheck disable=SC2046,SC2086 # split as systemd splits it
env -u HOME $as_unit_user "$tesk" $(unit_arguments "$port") >"$scratch/refused.out" 2>&1 &
refused=$!
# Bounded: the daemon ends at once when it may not bind; else it is stopped.
tries=0
while kill -0 "$refused" 2>/dev/null && [ "$tries" -lt 50 ]; do
	sleep 0.1
	tries=$((tries + 1))
done
if stop_started "$refused"; then
	fail "without the unit's capabilities the daemon bound port $port"
else
	printf '%s: daemon_run: Permission denied\n' "$tesk" >"$scratch/refused.expected"
	check_same "the daemon without the unit's capabilities on port $port" \
		"$scratch/refused.expected" "$scratch/refused.out"
	[ "$ended_status" -eq 1 ] || fail "the refused daemon ended with status $ended_status"
fi
finish
