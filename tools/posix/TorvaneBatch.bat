#!/bin/sh
# The installation script of the simulator stand-in: runs torvane-sim from
# the folder of this script with the arguments it was given.
exec "$(dirname "$0")/torvane-sim" "$@"
