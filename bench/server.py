"""A plain Python socket server for the symbols reply: the reply (type 2,
then the samples bench_server makes, interleaved float32) is prepared in
memory, then each of ROUNDS clients gets it with sendall after its request.
Prints the port, then serves."""
import socket
import sys

import numpy as np

n, rounds = int(sys.argv[1]), int(sys.argv[2])
k = np.arange(n, dtype=np.int64)
wire = np.empty(2 * n, dtype="<f4")
wire[0::2] = (k % 1000).astype(np.float32) * np.float32(0.001)
wire[1::2] = -(k % 777).astype(np.float32) * np.float32(0.001)
del k
head = (2).to_bytes(4, "little")
body = memoryview(wire).cast("B")
ls = socket.socket()
ls.bind(("127.0.0.1", 0))
ls.listen(1)
print(ls.getsockname()[1], flush=True)
for _ in range(rounds):
    c, _ = ls.accept()
    c.recv(16)
    c.sendall(head)
    c.sendall(body)
    c.close()
