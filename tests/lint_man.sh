#!/bin/sh
# SPDX-License-Identifier: ISC
# Fails, showing what was said, if any manual page given draws a warning
# from groff, or from mandoc where it is installed.
status=0
for page in "$@"; do
	out=$(groff -ww -mandoc -z "$page" 2>&1) || status=1
	[ -n "$out" ] && { printf '%s\n' "$out"; status=1; }
	if command -v mandoc >/dev/null 2>&1; then
		out=$(mandoc -Tlint -W warning "$page" 2>&1) || status=1
		[ -n "$out" ] && { printf '%s\n' "$out"; status=1; }
	fi
done
exit $status
