#!/usr/bin/env bash
# Installs what building and running nodletflash, its companions and the virtual hand needs on
# Debian 12, and what makes the Debian package. Run as root. tools/setup-dev.sh adds what the
# tests need.
set -euo pipefail

packages=(
  build-essential cmake file  # the compilers, make, dpkg-dev for the package's dependencies
  libcap-dev                  # file capabilities
  libcli11-dev nlohmann-json3-dev  # the companions' options and JSON
  libtomlplusplus-dev         # a hand's firmware set (TOML), header-only
  zlib1g-dev                  # the guide's support bundle (gzip), linked statically
  libboost-dev                # Boost.Beast and Asio, header-only: the guide's window server
  scdoc                       # the manual pages
)
bash "$(dirname "$0")/install-packages.sh" "${packages[@]}"
