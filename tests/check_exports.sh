#!/bin/sh
# The shared library exposes the eight exports and nothing else.
set -eu
lib=$1
expected="Extract ExtractEx GetQuality LoadFeature LoadFinger SaveFeature SaveFinger VerifyMatch"
actual=$(nm -D --defined-only "$lib" | awk '$2 ~ /^[TDBRVWiu]$/ {print $3}' | sort | tr '\n' ' ' | sed 's/ $//')
if [ "$actual" != "$expected" ]; then
  echo "exported: $actual"
  echo "expected: $expected"
  exit 1
fi
