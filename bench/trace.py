"""Sets the simulator up for a trace of N samples and times the transfer of
its answer to "TRAC:IQ:DATA?" (an 8*N byte block of float32 pairs): over a
plain socket into one reused 24 MB buffer ("plain PORT N") or into fresh
memory for the whole block ("held PORT N"), or with pyvisa-py's
query_binary_values ("pyvisa RESOURCE N"). Prints the seconds of the
transfer."""
import socket
import sys
import time

SETUP = ["*CLS;*OPC?", "TRAC:IQ ON;*OPC?", "TRAC:IQ:DATA:FORM IQP;*OPC?",
         "TRAC:IQ:SET NORM,300000Hz,100000000Hz,IMM,POS,0,%d;*OPC?", "FORM REAL, 32;*OPC?"]
CHUNK = 3000000 * 8


def plain(port, n, held=False):
    s = socket.create_connection(("127.0.0.1", port))
    f = s.makefile("rb")
    for cmd in SETUP:
        s.sendall((cmd.replace("%d", str(n)) + "\n").encode())
        f.readline()
    want = 2 + len(str(8 * n)) + 8 * n + 1
    t0 = time.perf_counter()
    buf = memoryview(bytearray(want if held else CHUNK))
    s.sendall(b"TRAC:IQ:DATA?\n")
    got = 0
    while got < want:
        r = s.recv_into(buf[got:] if held else buf, min(CHUNK, want - got))
        if r == 0:
            raise SystemExit("connection ended early")
        got += r
    seconds = time.perf_counter() - t0
    s.close()
    return seconds


def viapyvisa(rsrc, n):
    import pyvisa
    rm = pyvisa.ResourceManager("@py")
    inst = rm.open_resource(rsrc, read_termination="\n", write_termination="\n")
    inst.timeout = 120000
    for cmd in SETUP:
        inst.query(cmd.replace("%d", str(n)))
    t0 = time.perf_counter()
    values = inst.query_binary_values("TRAC:IQ:DATA?", datatype="f", is_big_endian=False, chunk_size=CHUNK)
    seconds = time.perf_counter() - t0
    if len(values) != 2 * n:
        raise SystemExit("pyvisa-py read %d values" % len(values))
    inst.close()
    rm.close()
    return seconds


mode, where, n = sys.argv[1], sys.argv[2], int(sys.argv[3])
print("%.6f" % (viapyvisa(where, n) if mode == "pyvisa" else plain(int(where), n, mode == "held")))
