#!/usr/bin/env bash
# Runs the tool's main job on a built-in sample. Argument: the build folder.
set -euo pipefail
echo "The command-line tool is not yet available."
