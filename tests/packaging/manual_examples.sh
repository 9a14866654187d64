# The examples of the manuals are what the program does, and the sample
# configuration holds the settings of the example in tesk.conf(5).
. "$(dirname "$0")/lib.sh"

require_inert_system_config

conf_manual=$source_dir/man/tesk.conf.5
main_manual=$source_dir/man/tesk.1

# tesk.conf(5): the first display is a configuration, the second what
# "tesk -e" prints for it, the third a gateway for a proxy daemon.
manual_display "$conf_manual" 1 >"$scratch/example.conf"
manual_display "$conf_manual" 2 >"$scratch/example.export"
manual_display "$conf_manual" 3 >"$scratch/proxy.conf"
run_tesk "$tesk" -e -f "$scratch/example.conf" >"$scratch/export" 2>&1 ||
	fail "tesk -e of the example of tesk.conf(5) failed"
check_same "tesk -e of the example of tesk.conf(5)" "$scratch/example.export" "$scratch/export"

# The sample's settings are commented out as "#keyword"; its explanations
# begin with "# ".
sed -n 's/^#\([^[:space:]]\)/\1/p' "$source_dir/packaging/tesk.conf.sample" >"$scratch/sample.settings"
sed -e '/^;/d' "$scratch/example.conf" >"$scratch/example.settings"
check_same "the settings of tesk.conf.sample against the example of tesk.conf(5)" \
	"$scratch/example.settings" "$scratch/sample.settings"
run_tesk "$tesk" -e -f "$source_dir/packaging/tesk.conf.sample" >"$scratch/sample.export" 2>&1
printf '; tesk configuration\n\n; Gateways:\ngateway default address 255.255.255.255\n\n; Hosts:\n\n; Groups:\n' \
	>"$scratch/empty.export"
check_same "tesk -e of tesk.conf.sample as it is installed (nothing set)" \
	"$scratch/empty.export" "$scratch/sample.export"

printf '[media (00:00:5e:00:53:05) with secret 70:61:73:73:34:77:61:6b:65 (pass4wake)]\nSending packet 1/1 via 198.51.100.7:10007\n' \
	>"$scratch/proxy.expected"
run_tesk "$tesk" -n -d -f "$scratch/proxy.conf" media >"$scratch/proxy.out" 2>&1 ||
	fail "the proxy example of tesk.conf(5) failed"
check_same "tesk -n -d media with the proxy example of tesk.conf(5)" \
	"$scratch/proxy.expected" "$scratch/proxy.out"

# tesk(1): the banner of -V, and the two examples that show output, with the
# example configuration. -n keeps the packets home.
banner_format='^\[tesk [0-9][0-9.]* ([A-Z][a-z][a-z] [ 123][0-9] [0-9]\{4\} [0-9][0-9]:[0-9][0-9]:[0-9][0-9]) - the tesk developers\]$'
banner=$(run_tesk "$tesk" -V)
echo "$banner" | grep -q "$banner_format" || fail "the banner has an unexpected form: $banner"
manual_display "$main_manual" 1 >"$scratch/manual.banner"
grep -q "$banner_format" "$scratch/manual.banner" || fail "the banner of tesk(1) has an unexpected form"
version=$(echo "$banner" | sed 's/^\[tesk \([^ ]*\) .*/\1/')
grep -q "^\[tesk $version " "$scratch/manual.banner" || fail "tesk(1) does not show version $version"

manual_displays "$main_manual" | awk '$0 == "--" { if (shown) exit; next }
	/^\$ tesk -v pc1 office$/ { shown = 1; next }
	shown' >"$scratch/verbose.expected"
[ -s "$scratch/verbose.expected" ] || fail "tesk(1) has no example of tesk -v pc1 office"
sed -i.orig "s/$banner_format/$banner/" "$scratch/verbose.expected" 2>/dev/null ||
	fail "cannot put the banner into the expected output"
run_tesk "$tesk" -n -f "$scratch/example.conf" -v pc1 office >"$scratch/verbose.out" 2>&1 ||
	fail "tesk -v pc1 office failed"
check_same "the example of tesk -v pc1 office in tesk(1)" "$scratch/verbose.expected" "$scratch/verbose.out"

manual_displays "$main_manual" | awk '$0 == "--" { if (shown) exit; next }
	/^\$ tesk -n -d -T 1 night$/ { shown = 1; next }
	shown' >"$scratch/trace.expected"
[ -s "$scratch/trace.expected" ] || fail "tesk(1) has no example of tesk -n -d -T 1 night"
run_tesk "$tesk" -f "$scratch/example.conf" -n -d -T 1 night >"$scratch/trace.out" 2>&1 ||
	fail "tesk -n -d -T 1 night failed"
check_same "the example of tesk -n -d -T 1 night in tesk(1)" "$scratch/trace.expected" "$scratch/trace.out"
finish
