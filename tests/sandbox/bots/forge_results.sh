# Writes a forged results.json into each folder given as @PATH (the tournament's, the games').
for word in "$@"; do
    folder=${word#@}
    if mkdir -p "$folder" 2>/dev/null && echo '{"forged": true}' > "$folder/results.json" 2>/dev/null; then
        echo "wrote $folder/results.json (a test checks where it went)"
    else
        echo "held: $folder"
    fi
done
