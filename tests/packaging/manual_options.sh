# The options that tesk(1) documents are those of the usage text, with the
# same value names, plus -V, which the usage text leaves out; the synopsis
# shows every one of them.
. "$(dirname "$0")/lib.sh"

manual=$source_dir/man/tesk.1

usage_options "$tesk" >"$scratch/usage"
[ -s "$scratch/usage" ] || fail "no options found in the usage text"
{
	cat "$scratch/usage"
	echo V
} | sort >"$scratch/expected"

# The option list: the ".It Fl" items of the first tag list of DESCRIPTION.
awk '/^\.Sh / { section = $2 }
	section == "DESCRIPTION" && /^\.Bl -tag/ && !seen { on = 1; seen = 1; next }
	on && /^\.El/ { on = 0 }
	on && /^\.It Fl / { print $3 (($4 == "Ar") ? " " $5 : "") }' "$manual" |
	sort >"$scratch/documented"
check_same "the option list of tesk(1) against the usage text" \
	"$scratch/expected" "$scratch/documented"

# The synopsis: single letters grouped after Fl, and letters with a value.
awk '/^\.Sh / { section = $2; next }
	section == "SYNOPSIS" {
		for (i = 1; i <= NF; i++) {
			if ($i != "Fl" && $i != ".Fl") continue
			if ($(i + 1) == "Ar") continue
			if ($(i + 2) == "Ar") { print $(i + 1) " " $(i + 3); i += 3; continue }
			n = split($(i + 1), letters, "")
			for (k = 1; k <= n; k++) print letters[k]
		}
	}' "$manual" | sort -u >"$scratch/synopsis"
check_same "the synopsis of tesk(1) against the usage text" \
	"$scratch/expected" "$scratch/synopsis"
finish
