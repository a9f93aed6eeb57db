#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, once.
set -euo pipefail
# dpkg-dev and file let CPack find the libraries the Debian package depends
# on; desktop-file-utils checks its desktop entry. The history's two Qt SQL
# drivers, and the PostgreSQL server its tests start a cluster of their own on
# (openssl makes their certificate); the keyring the History window keeps a
# server's password in; libsodium hashes a SQLite history's supervisor password.
packages=(cmake g++ make qt6-base-dev qt6-serialport-dev dpkg-dev file desktop-file-utils
          libqt6sql6-sqlite libqt6sql6-psql postgresql openssl qtkeychain-qt6-dev libsodium-dev
          pkg-config "$@")
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
