# The rc.d script is valid sh, and under a stand-in for rc.subr(8) its knobs
# make the command line that starts daemon(8), as root, with the daemon in the
# foreground and the user to run it as; that command line, run without
# daemon(8) but as that user, relays a packet.
private_network=1
. "$(dirname "$0")/lib.sh"

sh -n "$rcd_script" || fail "sh -n $rcd_script"

# The stand-in does what rc.subr does for "start" up to running the command:
# rc_flags from ${name}_flags, the rcvar check, the precmd, and then
# "$command $rc_flags $command_args", through su(1) when ${name}_user is set,
# which it prints instead of running.
cat >"$scratch/rc.subr" <<'STUB'
load_rc_config() {
	[ -f "$RC_CONF" ] && . "$RC_CONF"
}
checkyesno() {
	eval "_value=\$$1"
	case $_value in
	[Yy][Ee][Ss] | [Tt][Rr][Uu][Ee] | [Oo][Nn] | 1) return 0 ;;
	*) return 1 ;;
	esac
}
run_rc_command() {
	eval "rc_flags=\$${name}_flags _user=\$${name}_user"
	checkyesno "$rcvar" || { echo disabled; return 0; }
	if [ -n "$start_precmd" ]; then
		$start_precmd || return 1
	fi
	_doit="$command $rc_flags $command_args"
	if [ -n "$_user" ]; then
		_doit="su -m $_user -c 'sh -c \"$_doit\"'"
	fi
	echo $_doit
	echo "pidfile=$pidfile procname=$procname"
}
STUB
if [ "$(grep -c '^\. /etc/rc\.subr$' "$rcd_script")" != 1 ]; then
	fail "the script does not source /etc/rc.subr once"
	finish
fi
sed "s|^\. /etc/rc\.subr\$|. $scratch/rc.subr|" "$rcd_script" >"$scratch/tesk"

bin=$prefix/bin/tesk
# daemon(8) writes the pidfile as root, and runs the daemon as the user.
start="/usr/sbin/daemon -f -p /var/run/tesk.pid -u nobody $bin -D -F"
ids="pidfile=/var/run/tesk.pid procname=$bin"
# rc.conf settings|what the script runs
while IFS='|' read -r settings expected; do
	printf '%s\n' "$settings" | tr ';' '\n' >"$scratch/rc.conf"
	printf '%s\n' "$expected" >"$scratch/rc.expected"
	case $expected in
	disabled) ;;
	*) printf '%s\n' "$ids" >>"$scratch/rc.expected" ;;
	esac
	RC_CONF=$scratch/rc.conf sh "$scratch/tesk" start >"$scratch/rc.out" 2>&1
	check_same "start with: $settings" "$scratch/rc.expected" "$scratch/rc.out"
done <<CASES
tesk_enable=NO|disabled
tesk_port=10009|disabled
tesk_enable=YES|$start
tesk_enable=YES;tesk_address=198.51.100.1|$start -A 198.51.100.1
tesk_enable=YES;tesk_port=10009;tesk_secret=pass4wake|$start -P 10009 -S pass4wake
tesk_enable=YES;tesk_address=::;tesk_port=9;tesk_secret=1.2.3.4;tesk_flags="-d -f /tmp/x.conf"|$start -A :: -P 9 -S 1.2.3.4 -d -f /tmp/x.conf
tesk_enable=YES;tesk_flags=-v|$start -v
tesk_enable=YES;tesk_user=daemon;tesk_port=10009|/usr/sbin/daemon -f -p /var/run/tesk.pid -u daemon $bin -D -F -P 10009
CASES

# What daemon(8) would run, from the program's path on, with the built
# program, as the user of its -u.
user=daemon
printf 'tesk_enable=YES\ntesk_user=%s\ntesk_address=127.0.0.1\ntesk_port=%s\ntesk_flags="-f %s"\n' \
	"$user" "$daemon_port" "$daemon_config" >"$scratch/rc.conf"
RC_CONF=$scratch/rc.conf sh "$scratch/tesk" start >"$scratch/rc.out" 2>&1
options=$(sed -n "1s|^/usr/sbin/daemon \(.*\) $bin .*|\1|p" "$scratch/rc.out")
arguments=$(sed -n "1s|^.* $bin ||p" "$scratch/rc.out")
[ -n "$arguments" ] || fail "the script does not run $bin"
case " $options " in
*" -u $user "*) ;;
*) fail "daemon(8) is not told to run the daemon as $user: $options" ;;
esac
if [ "$(id -u)" -eq 0 ] && command -v setpriv >/dev/null 2>&1 && id "$user" >/dev/null 2>&1; then
	setpriv --reuid="$user" --regid="$(id -g "$user")" --init-groups test -x "$tesk" ||
		skip "the built program cannot be run by other users: $tesk"
	# shellcheck disable=SC2086 # split as rc.subr splits it
	set -- setpriv --reuid="$user" --regid="$(id -g "$user")" --init-groups "$tesk" $arguments
	check_foreground_daemon "the rc.d script's command line as $user" "$@"
else
	echo "skipped running the rc.d script's command line as $user: needs root, setpriv and the user"
	# shellcheck disable=SC2086 # split as rc.subr splits it
	set -- $arguments
	check_foreground_daemon "the rc.d script's command line" "$tesk" "$@"
fi
finish
