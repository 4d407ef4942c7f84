#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# run.sh BUILD SOURCE FILE.t: runs one transcript with cram, with the build's
# llc2, llc2conf and llc2sim first on PATH. cram leaves FILE.t.err beside the
# file it ran when the output differs, so it runs a copy.
set -euo pipefail
# The paths may be relative: cram runs in a directory of its own.
build=$(cd "$1" && pwd) source=$(cd "$2" && pwd)
transcript=$(cd "$(dirname "$3")" && pwd)/$(basename "$3")
cram=$(command -v cram3 || command -v cram) ||
  { echo "cram is missing (Debian: python3-cram; scripts/deps test installs it)"; exit 1; }
work=$(mktemp -d /tmp/llc2cram.XXXXXX)
trap 'rm -rf "$work"' EXIT
cp "$transcript" "$work/"
export PATH="$build/cmd:$build/llc2conf:$build/sim:$PATH" LLC2_BUILD=$build LLC2_SOURCE=$source
cd "$work"
"$cram" --shell=/bin/bash "$work/$(basename "$transcript")"
