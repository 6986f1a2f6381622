# Runs the set-user-ID program given (a copy of id owned by root) and su: neither may make it root.
for program in "$1" /usr/bin/su; do
    if [ "$("$program" -u 2>/dev/null)" = 0 ] || [ "$("$program" -c 'id -u' 2>/dev/null </dev/null)" = 0 ]; then
        echo "BREACH: $program made it root"
    else
        echo "held: $program"
    fi
done
