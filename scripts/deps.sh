#!/usr/bin/env bash
# Installs the Debian packages listed in scripts/packages/<set>.txt that are not installed yet.
# Usage: scripts/deps.sh build [test ...]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
want=()
for set in "$@"; do
  while read -r pkg _; do
    [[ -z "$pkg" || "$pkg" == \#* ]] && continue
    want+=("$pkg")
  done < "$here/packages/$set.txt"
done
missing=()
for pkg in "${want[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$pkg")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null
