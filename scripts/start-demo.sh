#!/usr/bin/env bash
# Starts the newest user-facing program on the demo disk. $1 is the build folder.
set -euo pipefail
build=$1; shift
echo "Vendrel is built in $build; no demo program exists yet."
