#!/bin/sh
# Installs the Debian packages that the end-to-end suite needs (the file "packages" beside this
# script) when any of them is missing. Without root or apt-get it names what is missing and
# installs nothing; the suite then reports itself skipped.
set -eu
missing=""
while read -r package; do
    [ -n "$package" ] || continue
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    [ "$status" = "install ok installed" ] || missing="$missing $package"
done <"$(dirname "$0")/packages"
[ -n "$missing" ] || exit 0
if [ "$(id -u)" != 0 ] || ! command -v apt-get >/dev/null; then
    echo "install-packages.sh: not installed:$missing (installing needs root and apt-get)" >&2
    exit 0
fi
# tshark's package asks whether users other than root may capture: they may not.
echo "wireshark-common wireshark-common/install-setuid boolean false" | debconf-set-selections
apt-get -o DPkg::Lock::Timeout=300 update -qq
# shellcheck disable=SC2086 # one word per package
DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=300 install -y -qq \
    --no-install-recommends $missing
