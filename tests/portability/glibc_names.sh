# Finds the names of glibc and of Linux that FreeBSD's C library and headers
# lack, or give another meaning, in the C and C++ sources below the
# directories given, and prints each line that uses one, with the reason.
# Exits 1 when it finds any, 0 when there is none.
#
# The platform layer, where the choice between the systems is made, is passed
# over; everywhere else a test on the system (#if __linux__ and the like)
# counts as well, since a branch for one system is built on that system only.
# Comments and the contents of string and character literals are not looked at.
#
# Usage: glibc_names.sh DIRECTORY...
set -eu

# The platform layer, as paths ending the file names that find prints.
platform_layer="src/values/ether.h src/values/ether.cpp"

[ "$#" -gt 0 ] || {
	echo "usage: $0 DIRECTORY..." >&2
	exit 2
}

# kind|name|why, where kind is
#   call    an identifier called as a function (not a member: x.error( or
#           x->error( or X::error( is another function)
#   name    an identifier used in any way
#   header  a header included by that name, in angle brackets
#   prefix  a header directory included from
rules='call|error|GNU extension; print with fprintf and the program name
call|error_at_line|GNU extension
call|strchrnul|GNU extension
call|mempcpy|GNU extension
call|wmempcpy|GNU extension
call|rawmemchr|GNU extension
call|strdupa|GNU extension
call|strndupa|GNU extension
call|canonicalize_file_name|GNU extension; use realpath
call|get_current_dir_name|GNU extension; use getcwd
call|secure_getenv|GNU extension
call|getauxval|glibc only; FreeBSD has elf_aux_info
call|tdestroy|GNU extension
call|on_exit|GNU extension; use atexit
call|fcloseall|GNU extension
call|__fpurge|glibc only; FreeBSD has fpurge
call|fopencookie|GNU extension; FreeBSD has funopen
call|qsort_r|the comparison takes its arguments in another order on older FreeBSD
call|strverscmp|GNU extension
call|versionsort|GNU extension
call|euidaccess|GNU extension; FreeBSD has eaccess
call|sigabbrev_np|GNU extension
call|sigdescr_np|GNU extension
call|strerrorname_np|GNU extension
call|strerrordesc_np|GNU extension
call|prctl|Linux only
call|sysinfo|Linux only
name|program_invocation_name|GNU extension; use argv[0]
name|program_invocation_short_name|GNU extension; use argv[0]
name|TEMP_FAILURE_RETRY|GNU extension; retry EINTR by hand
name|sys_errlist|obsolete glibc array; use strerror
name|sys_nerr|obsolete glibc count; use strerror
name|sys_siglist|obsolete glibc array; use strsignal
name|__GLIBC__|a test on glibc belongs in the platform layer
name|__GLIBC_MINOR__|a test on glibc belongs in the platform layer
name|__GNU_LIBRARY__|a test on glibc belongs in the platform layer
name|_GNU_SOURCE|asks glibc for its extensions
name|__linux__|a test on the system belongs in the platform layer
name|__linux|a test on the system belongs in the platform layer
name|__gnu_linux__|a test on the system belongs in the platform layer
name|__FreeBSD__|a test on the system belongs in the platform layer
name|SOL_IP|Linux only; use IPPROTO_IP
name|SOL_UDP|Linux only; use IPPROTO_UDP
name|MSG_MORE|Linux only
name|SO_BINDTODEVICE|Linux only
name|SO_TIMESTAMPNS|Linux only; FreeBSD has SO_TIMESTAMP and SO_BINTIME
name|SCM_TIMESTAMPNS|Linux only
name|AF_PACKET|Linux only; FreeBSD has bpf(4)
name|PF_PACKET|Linux only; FreeBSD has bpf(4)
header|endian.h|glibc header; FreeBSD has <sys/endian.h>
header|error.h|GNU header
header|features.h|glibc header
header|malloc.h|glibc header; malloc is in <stdlib.h>
header|alloca.h|glibc header; FreeBSD declares alloca in <stdlib.h>
header|mcheck.h|glibc header
header|argp.h|GNU header
header|obstack.h|GNU header
header|printf.h|glibc header
header|values.h|obsolete glibc header; use <limits.h> and <float.h>
header|netinet/ether.h|glibc header; FreeBSD has <net/ethernet.h>
header|netpacket/packet.h|Linux only
header|shadow.h|glibc header
header|sys/sysmacros.h|glibc header
header|sys/epoll.h|Linux only; FreeBSD has kqueue
header|sys/inotify.h|Linux only
header|sys/signalfd.h|Linux only
header|sys/timerfd.h|Linux only
header|sys/prctl.h|Linux only
header|sys/sendfile.h|Linux only; FreeBSD declares sendfile in <sys/socket.h>
header|sys/vfs.h|Linux only; FreeBSD has <sys/mount.h>
header|sys/sysinfo.h|Linux only
header|sys/fsuid.h|Linux only
header|sys/io.h|Linux only
header|sys/personality.h|Linux only
prefix|bits/|glibc internal headers
prefix|gnu/|glibc internal headers
prefix|linux/|Linux kernel headers
prefix|asm/|Linux kernel headers'

status=0
for file in $(find "$@" -type f \( -name '*.c' -o -name '*.cc' -o -name '*.cpp' -o -name '*.h' -o -name '*.hpp' \) | sort); do
	skip=
	for layer in $platform_layer; do
		case $file in
		*"$layer") skip=1 ;;
		esac
	done
	[ -z "$skip" ] || continue
	printf '%s\n' "$rules" | awk -F'|' -v file="$file" '
		FNR == NR {
			n = $2
			gsub(/\./, "\\.", n)
			# A call of the global function, ::error( included, but no member.
			if ($1 == "call") pattern[++rules] = "(^|[^A-Za-z0-9_.>:]|(^|[^A-Za-z0-9_:])::)" n "[ \t]*\\("
			else if ($1 == "name") pattern[++rules] = "(^|[^A-Za-z0-9_])" n "([^A-Za-z0-9_]|$)"
			else if ($1 == "header") pattern[++rules] = "^[ \t]*#[ \t]*include[ \t]*<[ \t]*" n "[ \t]*>"
			else pattern[++rules] = "^[ \t]*#[ \t]*include[ \t]*<[ \t]*" n
			name[rules] = $2
			why[rules] = $3
			next
		}
		{
			line = $0
			# What is left of a block comment that an earlier line opened.
			if (in_comment) {
				if (!sub(/^([^*]|\*+[^*\/])*\*+\//, "", line)) next
				in_comment = 0
			}
			# Literals first, so that quotes and slashes inside them do not count;
			# the name of an included header stays.
			gsub(/\047(\\.|[^\047\\])*\047/, "\047\047", line)
			if (line !~ /^[ \t]*#[ \t]*include/) gsub(/"(\\.|[^"\\])*"/, "\"\"", line)
			gsub(/\/\*([^*]|\*+[^*\/])*\*+\//, " ", line)
			if (sub(/\/\*.*/, "", line)) in_comment = 1
			sub(/\/\/.*/, "", line)
			for (r = 1; r <= rules; r++) {
				if (line ~ pattern[r]) {
					printf "%s:%d: %s: %s\n", file, FNR, name[r], why[r]
					found = 1
				}
			}
		}
		END { exit found ? 1 : 0 }' - "$file" || status=1
done
exit "$status"
