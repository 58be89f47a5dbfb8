#!/usr/bin/env bash
# Runs a command as a normal user without any capability, so that file permissions apply as
# they do to people: as root through setpriv (user and group nobody, no supplementary groups,
# every capability dropped); as any other user the command runs as it is.
set -euo pipefail
if [ "$(id -u)" -ne 0 ]; then exec "$@"; fi
if ! command -v setpriv >/dev/null; then
  echo "as-normal-user: setpriv is missing; running as root" >&2
  exec "$@"
fi
nobody=$(id -u nobody 2>/dev/null || echo 65534)
nogroup=$(id -g nobody 2>/dev/null || echo 65534)
exec setpriv --reuid="$nobody" --regid="$nogroup" --clear-groups --inh-caps=-all \
  --bounding-set=-all -- "$@"
