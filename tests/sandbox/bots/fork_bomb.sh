# Starts up to 1,000 processes that stay (bounded: never more; each ends after 60 s).
i=0
while [ $i -lt 1000 ]; do
    sleep 60 &
    i=$((i + 1))
done
echo "BREACH: started 1000 processes"
