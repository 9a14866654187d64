# The Debian package installs and runs: dpkg -i in a throw-away copy of this
# system (a private mount namespace with an overlay of the root file system,
# so that nothing reaches the real one), then a second install, removal and
# purge, with the system configuration made once and never replaced.
. "$(dirname "$0")/lib.sh"

[ "$(id -u)" -eq 0 ] || skip "needs root for a mount namespace"
for tool in cpack dpkg dpkg-deb unshare chroot mount; do
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

# Runs as / of the copy. Every line it prints that begins with FAIL is a failure.
cat >"$scratch/inside.sh" <<INSIDE
export HOME=/nonexistent PATH=$prefix/bin:/usr/sbin:/usr/bin:/sbin:/bin
conf=$sysconfdir/tesk.conf
sample=$prefix/share/examples/tesk/tesk.conf.sample
dpkg -i /tesk.deb >/install.log 2>&1 || echo "FAIL: dpkg -i: \$(tail -n 3 /install.log)"
cmp -s "\$conf" "\$sample" || echo "FAIL: dpkg -i did not make \$conf from the sample"
tesk -n -d 00:00:5e:00:53:01 >/run.out 2>&1 || echo "FAIL: the installed tesk failed: \$(cat /run.out)"
printf '[00:00:5e:00:53:01 (00:00:5e:00:53:01)]\nSending packet 1/1 via 255.255.255.255:7\n' >/run.expected
cmp -s /run.expected /run.out || echo "FAIL: the installed tesk -n -d printed: \$(cat /run.out)"
printf 'copies 2\n' >"\$conf"
dpkg -i /tesk.deb >/install.log 2>&1 || echo "FAIL: a second dpkg -i failed"
[ "\$(cat "\$conf")" = "copies 2" ] || echo "FAIL: a second dpkg -i replaced \$conf"
dpkg -r tesk >/remove.log 2>&1 || echo "FAIL: dpkg -r failed"
[ -e $prefix/bin/tesk ] && echo "FAIL: dpkg -r left $prefix/bin/tesk"
[ "\$(cat "\$conf")" = "copies 2" ] || echo "FAIL: dpkg -r removed \$conf"
dpkg -P tesk >/purge.log 2>&1 || echo "FAIL: dpkg -P failed"
[ -e "\$conf" ] && echo "FAIL: dpkg -P left \$conf"
echo "checked in the copy: dpkg -i, the program, a second dpkg -i, dpkg -r, dpkg -P"
echo done
INSIDE

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
finish
