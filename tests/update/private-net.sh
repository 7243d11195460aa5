#!/bin/sh
# Runs a command with its own network (loopback only) and its own /etc/hosts
# in which the product's host names lead to 127.0.0.1, so the update tests
# reach their local HTTPS servers through the program's unchanged rules.
# Start it as: unshare -m -n private-net.sh COMMAND [ARGS...]  (as root).
set -eu
ip link set lo up
hosts=$(mktemp -d /tmp/pmr-hosts-XXXXXX)
cat > "$hosts/hosts" <<HOSTS
127.0.0.1 localhost pellomar.app api.pellomar.app dl.pellomar.app testers.pellomar.app
::1 localhost ip6-localhost
HOSTS
chmod 644 "$hosts/hosts"
mount --bind "$hosts/hosts" /etc/hosts
set +e
"$@"
rc=$?
umount /etc/hosts 2>/dev/null || true
rm -rf "$hosts"
exit $rc
