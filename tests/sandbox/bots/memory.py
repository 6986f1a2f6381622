# Asks for 4 GiB at once, then takes it 64 MiB at a time, touching every page (4 GiB at most).
import time

try:
    block = bytearray(4 << 30)
    block[::4096] = b"\1" * len(block[::4096])
    print("BREACH: held 4 GiB in one block", flush=True)
except MemoryError:
    print("held: 4 GiB at once refused", flush=True)
    block = None
chunks = []
try:
    while len(chunks) < 64:
        chunks.append(b"\1" * (64 << 20))
        time.sleep(0.01)
    print("BREACH: held 4 GiB in chunks", flush=True)
except MemoryError:
    print(f"held: refused after {len(chunks) * 64} MiB", flush=True)
time.sleep(30)
