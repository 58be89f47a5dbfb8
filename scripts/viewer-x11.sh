# Helpers of the screenshot scripts, sourced by them: waiting for the viewer's windows, keys
# and screenshots under Xvfb. Expects $pid (the viewer's process) and $winshot.

# Waits (at most 30 s) for a visible window of the viewer other than window $1 (may be empty);
# prints its id.
wait_window() {
  local id
  for _ in $(seq 300); do
    id=$(xdotool search --onlyvisible --pid "$pid" --name . 2>/dev/null | grep -vx "${1:-none}" | head -n 1 || true)
    if [ -n "$id" ]; then echo "$id"; return 0; fi
    sleep 0.1
  done
  echo "${0##*/}: no window of the viewer appeared" >&2
  return 1
}

# Gives window $1 the keyboard and presses key $2.
press() {
  xdotool windowfocus --sync "$1"
  xdotool key --clearmodifiers "$2"
}

# Saves window $1 (or "root", the screen) as PNG $2 once it has painted.
shoot() {
  sleep 1
  "$winshot" "$1" "$2"
  echo "  $2"
}
