#!/usr/bin/env bash
# Installs what is missing, builds the command-line tool and runs an example.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/setup.sh
vexlor_need "${VEXLOR_CORE_PACKAGES[@]}"
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)" --target vexlor
build/release/cli/vexlor test 'rd=rs;gd=gs*0.5;bd=sin(bs*pi);'
