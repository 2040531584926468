#!/usr/bin/env bash
# Installs the Debian packages the build needs, when some are missing. Needs root (or sudo) only then.
# Apache comes as its binary and modules (apache2-bin), never as the apache2 package, whose installation would
# start a system service: the tests and the demo start their own server on loopback.
set -euo pipefail

packages=(cmake ninja-build g++ make pkg-config libgtest-dev libgmock-dev libbenchmark-dev libpugixml-dev clang-format
    clang libxml2-dev libgumbo-dev gcovr libcli11-dev libldap-dev slapd ldap-utils
    apache2-bin apache2-dev apache2-utils libpcre2-dev media-types zlib1g-dev)
command -v npm >/dev/null 2>&1 || packages+=(npm); packages+=(chromium nodejs) # the browser tests
missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing missing packages: ${missing[*]}" >&2
if [ "$(id -u)" -eq 0 ]; then
    apt_get=(apt-get)
elif command -v sudo >/dev/null 2>&1; then
    apt_get=(sudo apt-get)
else
    echo "Missing packages (${missing[*]}) and no root rights to install them." >&2
    exit 1
fi
export DEBIAN_FRONTEND=noninteractive
"${apt_get[@]}" update -qq
"${apt_get[@]}" install -y -qq --no-install-recommends "${missing[@]}"
