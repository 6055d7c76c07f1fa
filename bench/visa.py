"""Reads one "SIM:BLOCK? N" reply through pyvisa with the pyvisa-py backend,
in the chunks the acquisition uses, and prints the seconds it took."""
import sys
import time

import pyvisa

CHUNK = 3000000 * 8


def main(rsrc, n):
    rm = pyvisa.ResourceManager("@py")
    inst = rm.open_resource(rsrc)
    inst.timeout = 60000
    lib, sess = inst.visalib, inst.session
    t0 = time.perf_counter()
    lib.write(sess, b"SIM:BLOCK? %d\n" % n)
    head, _ = lib.read(sess, 2)
    lib.read(sess, int(head[1:2]))
    # A raw socket has no end indicator for pyvisa-py: it reads exact counts.
    left = n + 1
    while left > 0:
        data, _ = lib.read(sess, min(CHUNK, left))
        if not data:
            raise SystemExit("pyvisa-py read nothing")
        left -= len(data)
    seconds = time.perf_counter() - t0
    inst.close()
    rm.close()
    print(f"{seconds:.6f}")


main(sys.argv[1], int(sys.argv[2]))
