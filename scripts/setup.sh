#!/usr/bin/env bash
# Installs what the build and the tests need, from Debian's packages, when it is missing.
# Only what is listed: recommended packages are left out (mypy would bring HTML and XML libraries).
set -euo pipefail
packages=(g++ cmake ninja-build pkg-config python3 python3-dev python3-pytest python3-hypothesis
          libre2-dev libabsl-dev libgtest-dev python3-regex
          python3-pip python3-setuptools python3-wheel python3-venv python3-mypy)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
