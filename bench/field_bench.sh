#!/bin/sh
# Field benchmark of tessary-cli builds: bench/field_bench.sh [CLI ...] [--keep]
# Installs its measuring tools when missing; with no CLI given it measures
# build/native/cli/tessary-cli.
set -e
here=$(cd "$(dirname "$0")" && pwd)
need=""
/usr/bin/python3 -c 'import numpy' 2>/dev/null || need="$need python3-numpy"
for t in sox espeak-ng multimon-ng; do
    command -v "$t" >/dev/null 2>&1 || need="$need $t"
done
if [ -n "$need" ]; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get update -qq
    # shellcheck disable=SC2086
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq $need
fi
# Debian's python3 is the one apt gives numpy to
exec /usr/bin/python3 "$here/field_bench.py" "$@"
