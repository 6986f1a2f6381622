# Leaves a child behind that ignores the usual signals, in a session of its own; its command
# line carries the marker given, so that a test can look for it after the game.
setsid sh -c "trap '' TERM HUP INT; exec sleep $1" </dev/null >/dev/null 2>&1 &
echo "left a child behind"
