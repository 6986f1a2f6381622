# Sends SIGTERM and SIGKILL to the pids given (the arenas, the test) and to every pid from 2 to
# 4096 but its own and its ancestors'. Never to -1.
keep=" $$ "
pid=$$
while [ "$pid" -gt 1 ]; do
    pid=$(cut -d ' ' -f 4 "/proc/$pid/stat")
    keep="$keep$pid "
done
for pid in "$@" $(seq 2 4096); do
    case "$keep" in *" $pid "*) continue ;; esac
    kill -TERM "$pid" 2>/dev/null && echo "signalled $pid"
    kill -KILL "$pid" 2>/dev/null
done
echo "held: still here"
