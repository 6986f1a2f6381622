# Tries to read files that are not its own: every argument is @PATH (so that the arena does not
# take it for one of this bot's own files), then the machine's secrets and the home folders.
for word in "$@" /etc/shadow /root /home; do
    path=${word#@}
    if [ -d "$path" ] && ls -A "$path" 2>/dev/null | grep -q .; then
        echo "BREACH: listed $path"
    elif [ -f "$path" ] && head -c 1 "$path" >/dev/null 2>&1; then
        echo "BREACH: read $path"
    else
        echo "held: $path"
    fi
done
