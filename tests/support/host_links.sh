#!/usr/bin/env bash
# Runs a test program under Wine beside a host-side helper that makes
# symbolic links on request: Windows programs cannot make them under Wine,
# yet Wine shows a host link to a folder as a reparse point.
#   host_links.sh WINE_RUN PREFIX PROGRAM [ARGS...]
# The program finds the request folder (drive Z:) in VELTRANO_HOST_LINKS. A
# request NAME.request holds two lines, the link's path and its target's
# (both Z:\ paths); the helper makes the link, or re-points the link that is
# there in one step (a rename over it), and renames the request to
# NAME.done. Everything in the folder is removed afterwards.
set -u
wine_run=$1 prefix=$2
shift 2
requests=$(mktemp -d "${TMPDIR:-/tmp}/veltrano-links.XXXXXX")
unix_path() { local p=${1#Z:}; p=${p//\\//}; printf '%s' "${p%$'\r'}"; }
(
  while [ -d "$requests" ]; do
    for request in "$requests"/*.request; do
      [ -e "$request" ] || continue
      { read -r link; read -r target; } <"$request"
      link=$(unix_path "$link")
      ln -s "$(unix_path "$target")" "$link.new-link" &&
        { mv -Tf "$link.new-link" "$link" || rm -f "$link.new-link"; }
      mv "$request" "${request%.request}.done"
    done
    sleep 0.02
  done
) &
helper=$!
VELTRANO_HOST_LINKS="Z:${requests//\//\\}" "$wine_run" --prefix "$prefix" "$@"
status=$?
kill "$helper" 2>/dev/null
wait "$helper" 2>/dev/null
rm -rf "$requests"
exit $status
