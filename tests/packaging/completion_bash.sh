# The bash completion loads, knows the options of the usage text, and
# completes files after -f, gateways after -g and the configuration's names,
# without ever evaluating a name.
. "$(dirname "$0")/lib.sh"

command -v bash >/dev/null 2>&1 || skip "bash is not installed"
require_inert_system_config

script=$source_dir/completions/tesk.bash

loaded=$(bash -c '. "$1" && complete -p tesk' sh "$script" 2>&1)
[ "$loaded" = "complete -F _tesk tesk" ] || fail "loading the completion gives: $loaded"

usage_options "$tesk" | cut -c1 | { cat; echo V; } | sort >"$scratch/usage.letters"
bash -c '. "$1" && for o in $_tesk_options; do echo "${o#-}"; done' sh "$script" | sort \
	>"$scratch/completion.letters"
check_same "the options of the bash completion against the usage text" \
	"$scratch/usage.letters" "$scratch/completion.letters"

# A configuration with a host named by a MAC address, and one whose name would
# run a command if anything evaluated it.
mkdir -p "$scratch/home"
cat >"$scratch/home/site.conf" <<'CONF'
gateway office address 192.0.2.255 port 9
gateway lab address 198.51.100.255
host nas mac 00:00:5e:00:53:01 via lab
host 00:00:5e:00:53:02
[office]
host pc1 mac 00:00:5e:00:53:03
host pc2 mac 00:00:5e:00:53:04
[night]
host $(touch${IFS}PWNED)
CONF
: >"$scratch/home/site.txt"

# Each case: the line up to the cursor, and the words offered, sorted.
cat >"$scratch/cases" <<CASES
tesk -f site.conf |$(printf '%s ' '\$\(touch\$\{IFS\}PWNED\)' 00:00:5e:00:53:02 all default lab nas night office pc1 pc2)
tesk -f site.conf p|pc1 pc2
tesk -vf site.conf -g |default lab office
tesk -fsite.conf -g l|lab
tesk -d -f ~/site.conf -- n|nas night
tesk -f site.conf 00:00:5e:00:53:|02
tesk -f site.conf pc1 -|
tesk -f site.conf -c |
tesk -f site.conf -T|-T
tesk -f si|site.conf site.txt
tesk -|$(for o in h v d i n e f g a p t T c s D F A P S V; do printf -- '-%s ' "$o"; done)
tesk -a -f site.conf |default
CASES
cat >"$scratch/complete.bash" <<'DRIVER'
. "$1"
program=$2
cd "$HOME" || exit 1
while IFS='|' read -r line expected; do
	line="$program ${line#tesk }"
	COMP_LINE=$line
	COMP_POINT=${#line}
	_tesk
	printf '%s|' "$line"
	printf '%s\n' "${COMPREPLY[@]}" | grep -v '^$' | sort | tr '\n' ' '
	echo
done <"$3"
DRIVER
HOME=$scratch/home bash "$scratch/complete.bash" "$script" "$tesk" "$scratch/cases" \
	>"$scratch/offered" 2>"$scratch/errors"
sed "s|^tesk |$tesk |" "$scratch/cases" | while IFS='|' read -r line words; do
	printf '%s|%s\n' "$line" "$(printf '%s\n' $words | grep -v '^$' | sort | tr '\n' ' ')"
done >"$scratch/expected"
check_same "the words that the bash completion offers (line|words)" "$scratch/expected" "$scratch/offered"
if [ -s "$scratch/errors" ]; then
	fail "the completion wrote errors:"
	cat "$scratch/errors" >&2
fi
[ -e "$scratch/home/PWNED" ] && fail "the completion evaluated a name of the configuration"
finish
