# Writes 256 MiB into each place it can write (its working folder, /tmp, /dev/shm), more than
# their caps, and says how much each took.
for dir in "$HOME" /tmp /dev/shm; do
    dd if=/dev/zero of="$dir/fill" bs=1M count=256 2>/dev/null
    size=$(($(wc -c < "$dir/fill" 2>/dev/null || echo 0) / 1048576))
    if [ "$size" -ge 256 ]; then
        echo "BREACH: wrote 256 MiB into $dir"
    else
        echo "held: $dir took $size MiB"
    fi
done
