#!/usr/bin/env bash
# Builds the Linux broker and bench/broker_load in build/default and runs the load measurement:
# 254 connections at once (memory, threads), 64 clients sending command 0 for 10 s, and the
# broker's context switches over 10 s at rest. Arguments go to broker_load
# (--connections N, --busy-clients N, --seconds S, --idle-seconds S).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset default >/dev/null
cmake --build --preset default -j 2 --target quellmark broker_load
exec build/default/bench/broker_load --broker build/default/quellmark "$@"
