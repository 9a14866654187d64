# CPack builds a Debian package that holds the installed files but the system
# configuration, which its postinst makes from the sample; the program in it
# runs.
. "$(dirname "$0")/lib.sh"

command -v cpack >/dev/null 2>&1 || skip "cpack is not in PATH"
command -v dpkg-deb >/dev/null 2>&1 || skip "dpkg-deb is not installed"
[ -f "$build_dir/CPackConfig.cmake" ] || skip "the build has no CPack configuration"

cpack -G DEB --config "$build_dir/CPackConfig.cmake" -B "$scratch/out" >"$scratch/cpack.log" 2>&1 || {
	cat "$scratch/cpack.log" >&2
	fail "cpack -G DEB failed"
	finish
}
set -- "$scratch"/out/*.deb
if [ "$#" -ne 1 ] || [ ! -f "$1" ]; then
	fail "cpack made no single package: $*"
	finish
fi
package=$1
version=$(run_tesk "$tesk" -V | sed 's/^\[tesk \([^ ]*\) .*/\1/')
architecture=$(dpkg --print-architecture 2>/dev/null || echo amd64)
[ "$(basename "$package")" = "tesk_${version}_${architecture}.deb" ] ||
	fail "the package is named $(basename "$package")"

for field in Package:tesk Version:"$version" Section:net; do
	value=$(dpkg-deb -f "$package" "${field%%:*}")
	[ "$value" = "${field#*:}" ] || fail "the package's ${field%%:*} is '$value'"
done
dpkg-deb -f "$package" Depends | grep -q 'libc6' || fail "the package does not depend on libc6"

# The files: the layout below the prefix, without the system configuration.
for file in $installed; do echo "$file"; done | grep -v "^$sysconf_destination/tesk.conf\$" |
	sed "s|^|${prefix#/}/|" | sort >"$scratch/expected.files"
dpkg-deb --fsys-tarfile "$package" | tar -tf - | sed 's|^\./||' | grep -v '/$' | sort \
	>"$scratch/packaged.files"
check_same "the files of the package" "$scratch/expected.files" "$scratch/packaged.files"

dpkg-deb -e "$package" "$scratch/control"
for script in postinst postrm; do
	[ -x "$scratch/control/$script" ] || fail "the package has no executable $script"
	sh -n "$scratch/control/$script" || fail "$script is not valid sh"
done
grep -q "tesk.conf.sample\" \"$sysconfdir/tesk.conf\"" "$scratch/control/postinst" ||
	fail "postinst does not copy the sample to $sysconfdir/tesk.conf"

# The program of the package runs.
dpkg-deb -x "$package" "$scratch/root"
expected_usage "$scratch/root$prefix/bin/tesk" >"$scratch/usage.expected"
run_tesk "$scratch/root$prefix/bin/tesk" -h >"$scratch/usage.out" 2>&1 || fail "the packaged tesk -h failed"
check_same "the packaged tesk -h" "$scratch/usage.expected" "$scratch/usage.out"
finish
