# Asks for 4 GiB at once, then takes it 64 MiB at a time (4 GiB at most). Each chunk is mapped
# with its pages made resident at once (MAP_POPULATE): touching them one by one from Python takes
# most of a second per chunk on a slow machine, longer than the game lasts under load.
import mmap
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
        chunks.append(mmap.mmap(-1, 64 << 20, flags=mmap.MAP_PRIVATE | mmap.MAP_ANONYMOUS
                                | mmap.MAP_POPULATE))
        time.sleep(0.01)
    print("BREACH: held 4 GiB in chunks", flush=True)
except (MemoryError, OSError):
    print(f"held: refused after {len(chunks) * 64} MiB", flush=True)
time.sleep(30)
