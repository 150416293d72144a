#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only those missing.
# Usage: install-deps.sh [extra-package ...]
set -euo pipefail
pkgs=(cmake make g++ clang libxerces-c-dev libssl-dev openssl libgtest-dev libgmock-dev
      libbenchmark-dev libboost-dev libcli11-dev nlohmann-json3-dev curl libxml2-utils python3
      chromium chromium-driver python3-selenium "$@")  # the last three: the web console's test
pkgs+=(dpkg-dev file systemd logrotate)  # make package and the package test
missing=()
for p in "${pkgs[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
if [ "$(id -u)" -ne 0 ]; then
    echo "install-deps: missing packages: ${missing[*]} (run as root to install them)" >&2
    exit 1
fi
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq "${missing[@]}" >/dev/null
