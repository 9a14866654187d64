# cmake --install into a temporary prefix, and with DESTDIR: every file where
# it belongs and nothing else, the installed program runs, the installed
# manuals render and name the installed paths, the system configuration is
# readable by every user (the daemon's among them) whatever the umask, and an
# existing one is never replaced.
. "$(dirname "$0")/lib.sh"

command -v cmake >/dev/null 2>&1 || skip "cmake is not in PATH"

# A system configuration directory outside the prefix stays where it is
# with --prefix: DESTDIR keeps it off this system.
root=$scratch/prefix
case $sysconf_destination in
/*)
	outside=$scratch/outside
	files=$outside$root
	config=$outside$sysconf_destination/tesk.conf
	;;
*)
	outside=
	files=$root
	config=$root/$sysconf_destination/tesk.conf
	;;
esac
install_into_prefix() {
	DESTDIR=$outside cmake --install "$build_dir" --prefix "$root" >"$scratch/install.log" 2>&1
}
(umask 077 && install_into_prefix) || {
	cat "$scratch/install.log" >&2
	fail "cmake --install --prefix failed"
	finish
}

# Exactly the files of the layout.
for file in $installed; do echo "$file"; done | sort >"$scratch/expected.files"
(cd "$files" && find . \( -type f -o -type l \) | sed 's|^\./||' | sort) >"$scratch/installed.files"
check_same "the installed files" "$scratch/expected.files" "$scratch/installed.files"

[ -x "$files/bin/tesk" ] || fail "bin/tesk is not executable"
for file in $installed; do
	case $file in
	*/rc.d/*) [ -x "$files/$file" ] || fail "$file is not executable" ;;
	esac
done

# The installed program, called by its installed path.
expected_usage "$files/bin/tesk" >"$scratch/usage.expected"
run_tesk "$files/bin/tesk" -h >"$scratch/usage.out" 2>&1 || fail "$files/bin/tesk -h failed"
check_same "$files/bin/tesk -h" "$scratch/usage.expected" "$scratch/usage.out"

# The system configuration starts as the sample, and stays as the user made it.
check_same "the installed system configuration" "$source_dir/packaging/tesk.conf.sample" "$config"
for file in "$config" "$files/share/examples/tesk/tesk.conf.sample"; do
	[ "$(stat -c %a "$file")" = 644 ] || fail "$file was installed with mode $(stat -c %a "$file")"
done
printf 'gateway home address 198.51.100.255\n' >"$config"
cp "$config" "$scratch/config.kept"
install_into_prefix || fail "a second install failed"
check_same "an existing system configuration after a second install" "$scratch/config.kept" "$config"
grep -q "Keeping: $config" "$scratch/install.log" || fail "the second install did not say that it kept $config"

# Staged with DESTDIR, below the configured prefix.
stage=$scratch/stage
DESTDIR=$stage cmake --install "$build_dir" >"$scratch/stage.log" 2>&1 || fail "cmake --install with DESTDIR failed"
(cd "$stage$prefix" && find . \( -type f -o -type l \) | sed 's|^\./||' | sort) >"$scratch/staged.files"
check_same "the files staged with DESTDIR" "$scratch/expected.files" "$scratch/staged.files"
case $sysconf_destination in
/*) staged_config=$stage$sysconf_destination/tesk.conf ;;
*) staged_config=$stage$prefix/$sysconf_destination/tesk.conf ;;
esac
check_same "the staged system configuration" "$source_dir/packaging/tesk.conf.sample" "$staged_config"
printf 'copies 3\n' >"$staged_config"
DESTDIR=$stage cmake --install "$build_dir" >"$scratch/stage.log" 2>&1
printf 'copies 3\n' >"$scratch/staged.kept"
check_same "an existing staged system configuration" "$scratch/staged.kept" "$staged_config"

# The FILES sections of the installed manuals name the installed paths (for
# the daemon's service files, that of this system's kind).
for manual in "$files"/share/man/man1/tesk.1 "$files"/share/man/man5/tesk.conf.5; do
	[ -f "$manual" ] || continue
	awk '/^\.Sh / { section = $2; next }
		section == "FILES" && /^\.It Pa / { print $3 }' "$manual" >"$scratch/named"
	[ -s "$scratch/named" ] || fail "$manual names no files"
	while read -r path; do
		case $path in
		"$prefix"/*) ;;
		*) continue ;;
		esac
		relative=${path#"$prefix"/}
		if [ -e "$files/$relative" ]; then
			continue
		fi
		case " $not_installed " in
		*" $relative "*) ;;
		*) fail "$manual names $path, which the install does not make" ;;
		esac
	done <"$scratch/named"
done

# The installed manuals render, with mandoc and with groff, without a warning.
for manual in "$files"/share/man/man1/tesk.1 "$files"/share/man/man5/tesk.conf.5; do
	if command -v mandoc >/dev/null 2>&1; then
		mandoc -T ascii "$manual" >"$scratch/rendered" 2>"$scratch/render.err" ||
			fail "mandoc cannot render $manual"
		# Without the overstriking of bold and underlined letters.
		sed "s/.$(printf '\b')//g" "$scratch/rendered" | grep -q '^NAME$' ||
			fail "mandoc rendered no NAME section for $manual"
	fi
	if command -v groff >/dev/null 2>&1; then
		groff -mandoc -Tutf8 -ww -z "$manual" >"$scratch/render.err" 2>&1 ||
			fail "groff cannot render $manual"
		if [ -s "$scratch/render.err" ]; then
			fail "groff warns about $manual:"
			cat "$scratch/render.err" >&2
		fi
	fi
done
if command -v man >/dev/null 2>&1; then
	MANPATH=$files/share/man man -P cat tesk.conf >"$scratch/man.out" 2>/dev/null ||
		fail "man does not find the installed tesk.conf(5)"
	grep -q 'configuration file of tesk' "$scratch/man.out" || fail "man shows the wrong page for tesk.conf"
fi
finish
