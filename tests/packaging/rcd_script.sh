# The rc.d script is valid sh, and under a stand-in for rc.subr(8) its knobs
# make the command line that starts daemon(8) with the daemon in the
# foreground; that command line, run without daemon(8), relays a packet.
. "$(dirname "$0")/lib.sh"

sh -n "$rcd_script" || fail "sh -n $rcd_script"

# The stand-in does what rc.subr does for "start" up to running the command:
# rc_flags from ${name}_flags, the rcvar check, the precmd, and then
# "$command $rc_flags $command_args", which it prints instead of running.
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
	eval "rc_flags=\$${name}_flags"
	checkyesno "$rcvar" || { echo disabled; return 0; }
	if [ -n "$start_precmd" ]; then
		$start_precmd || return 1
	fi
	echo $command $rc_flags $command_args
	echo "pidfile=$pidfile procname=$procname"
}
STUB
if [ "$(grep -c '^\. /etc/rc\.subr$' "$rcd_script")" != 1 ]; then
	fail "the script does not source /etc/rc.subr once"
	finish
fi
sed "s|^\. /etc/rc\.subr\$|. $scratch/rc.subr|" "$rcd_script" >"$scratch/tesk"

bin=$prefix/bin/tesk
start="/usr/sbin/daemon -f -p /var/run/tesk.pid $bin -D -F"
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
CASES

# What daemon(8) would run, from the program's path on, with the built program.
printf 'tesk_enable=YES\ntesk_address=127.0.0.1\ntesk_port=%s\ntesk_flags="-f %s"\n' \
	"$daemon_port" "$daemon_config" >"$scratch/rc.conf"
RC_CONF=$scratch/rc.conf sh "$scratch/tesk" start >"$scratch/rc.out" 2>&1
arguments=$(sed -n "1s|^.* $bin ||p" "$scratch/rc.out")
[ -n "$arguments" ] || fail "the script does not run $bin"
# shellcheck disable=SC2086 # split as rc.subr splits it
set -- $arguments
check_foreground_daemon "the rc.d script's command line" "$tesk" "$@"
finish
