# The Debian package installs and runs: dpkg -i in a throw-away copy of this
# system (a private mount namespace with an overlay of the root file system,
# so that nothing reaches the real one), then a second install, removal and
# purge, with the system configuration made once, readable by the daemon's
# user, and never replaced, and that user made once and left in place; then
# an install that makes the same user without systemd-sysusers.
. "$(dirname "$0")/lib.sh"

[ "$(id -u)" -eq 0 ] || skip "needs root for a mount namespace"
for tool in cpack dpkg dpkg-deb unshare chroot mount getent setpriv useradd; do
	command -v "$tool" >/dev/null 2>&1 || skip "$tool is not installed"
done
[ -f "$build_dir/CPackConfig.cmake" ] || skip "the build has no CPack configuration"
grep -qw overlay /proc/filesystems 2>/dev/null || skip "the kernel has no overlay file system"
dpkg -s tesk >/dev/null 2>&1 && skip "tesk is installed on this system already"

cpack -G DEB --config "$build_dir/CPackConfig.cmake" -B "$scratch/out" >"$scratch/cpack.log" 2>&1 || {
	cat "$scratch/cpack.log" >&2
	fail "cpack -G DEB failed"
	finish
}
set -- "$scratch"/out/*.deb
[ -f "$1" ] || {
	fail "cpack made no package"
	finish
}
cp "$1" "$scratch/tesk.deb"

# Runs as / of the copy. Every line it prints that begins with FAIL is a
# failure; a line "account STAGE: LINE" shows the passwd line of the user tesk
# at that stage, and "group STAGE: LINE" its group's line.
cat >"$scratch/inside.sh" <<INSIDE
export HOME=/nonexistent PATH=$prefix/bin:/usr/sbin:/usr/bin:/sbin:/bin
conf=$sysconfdir/tesk.conf
sample=$prefix/share/examples/tesk/tesk.conf.sample
accounts() {
	echo "account \$1: \$(getent passwd tesk)"
	echo "group \$1: \$(getent group tesk)"
}
# The copy starts without the user, whatever this system has.
getent passwd tesk >/dev/null && userdel tesk
getent group tesk >/dev/null && groupdel tesk
# A careful administrator's umask: the package's files stay readable all the same.
umask 077
dpkg -i /tesk.deb >/install.log 2>&1 || echo "FAIL: dpkg -i: \$(tail -n 3 /install.log)"
accounts installed
cmp -s "\$conf" "\$sample" || echo "FAIL: dpkg -i did not make \$conf from the sample"
[ "\$(stat -c %a "\$conf")" = 644 ] || echo "FAIL: dpkg -i made \$conf with mode \$(stat -c %a "\$conf")"
setpriv --reuid=tesk --regid=tesk --init-groups cat "\$conf" >/dev/null 2>&1 ||
	echo "FAIL: the user tesk cannot read \$conf"
tesk -n -d 00:00:5e:00:53:01 >/run.out 2>&1 || echo "FAIL: the installed tesk failed: \$(cat /run.out)"
printf '[00:00:5e:00:53:01 (00:00:5e:00:53:01)]\nSending packet 1/1 via 255.255.255.255:7\n' >/run.expected
cmp -s /run.expected /run.out || echo "FAIL: the installed tesk -n -d printed: \$(cat /run.out)"
printf 'copies 2\n' >"\$conf"
dpkg -i /tesk.deb >/install.log 2>&1 || echo "FAIL: a second dpkg -i failed"
accounts reinstalled
[ "\$(cat "\$conf")" = "copies 2" ] || echo "FAIL: a second dpkg -i replaced \$conf"
dpkg -r tesk >/remove.log 2>&1 || echo "FAIL: dpkg -r failed"
accounts removed
[ -e $prefix/bin/tesk ] && echo "FAIL: dpkg -r left $prefix/bin/tesk"
[ "\$(cat "\$conf")" = "copies 2" ] || echo "FAIL: dpkg -r removed \$conf"
dpkg -P tesk >/purge.log 2>&1 || echo "FAIL: dpkg -P failed"
accounts purged
[ -e "\$conf" ] && echo "FAIL: dpkg -P left \$conf"
# Without systemd-sysusers the package makes the same user with useradd.
userdel tesk
getent group tesk >/dev/null && groupdel tesk
sysusers=\$(command -v systemd-sysusers) && mv "\$sysusers" /sysusers.hidden
dpkg -i /tesk.deb >/install.log 2>&1 || echo "FAIL: dpkg -i without systemd-sysusers: \$(tail -n 3 /install.log)"
accounts useradd
echo "checked in the copy: dpkg -i, the program, a second dpkg -i, dpkg -r, dpkg -P, dpkg -i without systemd-sysusers"
echo done
INSIDE

real_account=$(getent passwd tesk)
mkdir -p "$scratch/mnt"
unshare --mount --propagation private sh -c '
	set -e
	mnt=$1
	mount -t tmpfs tesk-packaging "$mnt"
	mkdir "$mnt/upper" "$mnt/work" "$mnt/root"
	cp "$2" "$mnt/upper/tesk.deb"
	cp "$3" "$mnt/upper/inside.sh"
	mount -t overlay overlay -o "lowerdir=/,upperdir=$mnt/upper,workdir=$mnt/work" "$mnt/root"
	mount -t proc proc "$mnt/root/proc"
	mount --rbind /dev "$mnt/root/dev"
	chroot "$mnt/root" sh /inside.sh
' sh "$scratch/mnt" "$scratch/tesk.deb" "$scratch/inside.sh" >"$scratch/inside.out" 2>&1
status=$?
if ! grep -q '^done$' "$scratch/inside.out"; then
	if grep -q -i -e 'mount' -e 'unshare' "$scratch/inside.out" && [ "$status" -ne 0 ]; then
		cat "$scratch/inside.out"
		skip "cannot make the throw-away copy of the system here"
	fi
	fail "the run in the copy did not finish (status $status):"
	cat "$scratch/inside.out" >&2
fi
cat "$scratch/inside.out"
if grep '^FAIL' "$scratch/inside.out" >&2; then
	failures=$((failures + 1))
fi
[ "$(getent passwd tesk)" = "$real_account" ] || fail "the user tesk of this system changed"

# The user, as the sysusers.d file declares it, from the first install on; the
# same uid until the end, and its own group.
for stage in installed reinstalled removed purged useradd; do
	sed -n "s/^account $stage: //p" "$scratch/inside.out" >"$scratch/account.$stage"
	sed -n "s/^group $stage: //p" "$scratch/inside.out" >"$scratch/group.$stage"
	echo "$daemon_account" >"$scratch/account.expected"
	account_shape <"$scratch/account.$stage" >"$scratch/account.shape"
	check_same "the user tesk ($stage)" "$scratch/account.expected" "$scratch/account.shape"
	gid=$(cut -d: -f4 "$scratch/account.$stage")
	[ "$(cut -d: -f1,3 "$scratch/group.$stage")" = "tesk:$gid" ] ||
		fail "the group of the user tesk ($stage) is not tesk: $(cat "$scratch/group.$stage")"
done
for stage in reinstalled removed purged; do
	check_same "the user tesk, $stage, against the first install" "$scratch/account.installed" \
		"$scratch/account.$stage"
done
finish
