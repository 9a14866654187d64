# The systemd unit passes systemd-analyze verify (its manuals included), its
# sandbox keeps the exposure that systemd-analyze security gives it low, and
# its command line runs the daemon in the foreground.
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
MANPATH=$scratch/man systemd-analyze verify "$scratch/unit/tesk.service" >"$scratch/verify" 2>&1 ||
	fail "systemd-analyze verify failed"
if [ -s "$scratch/verify" ]; then
	fail "systemd-analyze verify reports:"
	cat "$scratch/verify" >&2
fi

# "OK" begins at an exposure of 2; the unit must stay below 3 (of 10).
if systemd-analyze security --help 2>/dev/null | grep -q -- '--offline'; then
	systemd-analyze security --offline=true --threshold=30 "$scratch/unit/tesk.service" \
		>"$scratch/security" 2>&1 || {
		fail "the exposure of the unit is above 3:"
		tail -n 3 "$scratch/security" >&2
	}
else
	echo "skipped the exposure check: systemd-analyze security has no --offline"
fi

# The command line of ExecStart, with TESK_FLAGS as an operator would set it.
command_line=$(sed -n "s|^ExecStart=$prefix/bin/tesk ||p" "$systemd_unit")
case $command_line in
*'$TESK_FLAGS'*) ;;
*) fail "ExecStart does not pass TESK_FLAGS" ;;
esac
flags="-A 127.0.0.1 -P $daemon_port -f $daemon_config"
# shellcheck disable=SC2046 # split as systemd splits an unquoted $VARIABLE
set -- $(echo "$command_line" | sed "s|\\\$TESK_FLAGS|$flags|")
check_foreground_daemon "the unit's ExecStart" "$tesk" "$@"
finish
