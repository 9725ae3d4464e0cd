#!/usr/bin/env bash
set -u
exec "$1" --help >/dev/null
