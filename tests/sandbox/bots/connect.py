# Connects to 127.0.0.1:PORT for each PORT given (another game's arena, a server of the machine)
# and says hello there.
import socket
import sys

for port in map(int, sys.argv[1:]):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=2) as s:
            s.sendall(b"NAME intruder\n")
            print(f"BREACH: connected to port {port}", flush=True)
    except OSError as e:
        print(f"held: port {port}: {e}", flush=True)
