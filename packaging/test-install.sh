#!/usr/bin/env bash
# test-install.sh BUILD_DIR PREFIX: installs the build into a temporary staging
# folder (DESTDIR) with the given prefix and checks the result (check-install.sh).
set -euo pipefail
build=${1:?usage: test-install.sh BUILD_DIR PREFIX}
prefix=${2:?usage: test-install.sh BUILD_DIR PREFIX}
here=$(cd "$(dirname "$0")" && pwd)
stage=$(mktemp -d "${TMPDIR:-/tmp}/orvex-stage.XXXXXX")
trap 'rm -rf "$stage"' EXIT
# DESTDIR keeps the install inside the staging folder, never in the system.
DESTDIR="$stage" cmake --install "$build" --prefix "$prefix" >/dev/null
"$here/check-install.sh" "$stage" "$prefix" "$here/.."
