"""The instrument simulator against independent clients: the VISA library of
pyvisa-py and the lxi tool over VXI-11 (found through the simulator's
portmapper) and raw sockets, and a hand-built ONC RPC client for the details
of the VXI-11 core channel (request size, END, termination character, time-out,
status byte, clear, unsupported operations).

Usage: sim_interop.py SIMULATOR. Exits 77 (skipped) when port 111 cannot be
bound or a client is not installed."""

import os
import shutil
import socket
import struct
import subprocess
import sys
import tempfile

SKIP = 77
SIM = sys.argv[1]
failures = []


def check(name, got, expected):
    if got != expected:
        failures.append(name)
        print("FAIL %s: got %.200r, expected %.200r" % (name, got, expected))


def start(*args):
    """Starts the simulator; returns the process and its listeners (name -> port)."""
    p = subprocess.Popen([SIM, "--stdin-exit", *args], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                         stderr=subprocess.PIPE, text=True)
    ports = {}
    for line in p.stdout:
        if line.strip() == "ready":
            return p, ports
        name, address = line.split()
        ports[name] = int(address.rsplit(":", 1)[1])
    p.wait(10)
    return None, p.stderr.read()


def block(n):
    return bytes(k % 251 for k in range(n))


def letters(start, n):
    return bytes(65 + k % 26 for k in range(start, start + n))


class Rpc:
    """A minimal ONC RPC client over TCP (record marking, AUTH_NONE)."""

    def __init__(self, port):
        self.s = socket.create_connection(("127.0.0.1", port), timeout=10)
        self.xid = 0

    def call(self, prog, vers, proc, args=b""):
        self.xid += 1
        body = struct.pack(">10I", self.xid, 0, 2, prog, vers, proc, 0, 0, 0, 0) + args
        self.s.sendall(struct.pack(">I", 0x80000000 | len(body)) + body)
        mark = self.recv(4)
        reply = self.recv(struct.unpack(">I", mark)[0] & 0x7FFFFFFF)
        xid, kind, stat, _, _, accept = struct.unpack(">6I", reply[:24])
        assert (xid, kind, stat, accept) == (self.xid, 1, 0, 0), reply[:24]
        return reply[24:]

    def recv(self, n):
        b = b""
        while len(b) < n:
            piece = self.s.recv(n - len(b))
            if not piece:
                raise ConnectionError("closed")
            b += piece
        return b


def opaque(b):
    return struct.pack(">I", len(b)) + b + b"\0" * (-len(b) % 4)


class Link:
    CORE = 0x0607AF

    def __init__(self, port):
        self.rpc = Rpc(port)
        r = self.rpc.call(self.CORE, 1, 10, struct.pack(">iII", 1, 0, 0) + opaque(b"inst0"))
        self.error, self.lid = struct.unpack(">iI", r[:8])

    def write(self, data, end=True):
        r = self.rpc.call(self.CORE, 1, 11, struct.pack(">iIIi", self.lid, 1000, 0, 8 if end else 0) + opaque(data))
        return struct.unpack(">iI", r)

    def read(self, size=1 << 20, timeout=1000, term=None):
        flags = 0x80 if term is not None else 0
        r = self.rpc.call(self.CORE, 1, 12, struct.pack(">iIIIii", self.lid, size, timeout, 0, flags, term or 0))
        error, reason, n = struct.unpack(">iiI", r[:12])
        return error, reason, r[12:12 + n]

    def generic(self, proc, lid=None):
        r = self.rpc.call(self.CORE, 1, proc, struct.pack(">iiII", self.lid if lid is None else lid, 0, 0, 1000))
        return struct.unpack(">i", r[:4])[0] if proc != 13 else struct.unpack(">iI", r)


def core_channel(port):
    """Table of VXI-11 core-channel cases on one link of a plain simulator."""
    link = Link(port)
    check("create_link", link.error, 0)
    cases = [  # name, message, read arguments, expected (error, reason, data)
        ("request count", b"SIM:TEXT? 10\n", {"size": 4}, (0, 1, b"ABCD")),
        ("rest with END", None, {"size": 100}, (0, 4, b"EFGHIJ\n")),
        ("count equal to the rest", b"SIM:TEXT? 3", {"size": 4}, (0, 5, b"ABC\n")),
        ("termination character", b"SIM:TEXT? 10\n", {"term": ord("C")}, (0, 2, b"ABC")),
        ("after the character", None, {"term": ord("Z")}, (0, 4, b"DEFGHIJ\n")),
        ("nothing pending", None, {"timeout": 50}, (15, 0, b"")),
        ("message split over writes", [b"*OPC", b"?;SIM:BLOCK? 300"], {}, (0, 4, b"1;#3300" + block(300) + b"\n")),
        ("zero-length block", b"SIM:BLOCK? 0\n", {}, (0, 4, b"#10\n")),
        ("largest read answer", b"SIM:TEXT? 16777300\n", {"size": 1 << 25}, (0, 0, letters(0, 1 << 24))),
        ("after the largest", None, {"size": 1 << 25}, (0, 4, letters(1 << 24, 84) + b"\n")),
    ]
    for name, message, kwargs, expected in cases:
        for i, m in enumerate(message if isinstance(message, list) else [message] if message else []):
            link.write(m, end=i == len(message) - 1 if isinstance(message, list) else True)
        check(name, link.read(**kwargs), expected)
    link.write(b"*IDN?")
    check("status byte with a reply waiting", link.generic(13), (0, 0x10))
    check("clear", link.generic(15), 0)
    check("cleared output", link.read(timeout=50), (15, 0, b""))
    check("local", link.generic(17), 0)
    check("trigger not supported", link.generic(14), 8)
    check("unknown link", link.generic(15, lid=999999), 4)
    check("destroy_link", link.rpc.call(Link.CORE, 1, 23, struct.pack(">i", link.lid)), struct.pack(">i", 0))
    check("destroyed link", link.read(timeout=50)[0], 4)


def faults():
    """Fault switches as seen over VXI-11."""
    p, ports = start("--vxi11", "0", "--trickle", "7")
    link = Link(ports["vxi11"])
    link.write(b"SIM:TEXT? 20\n")
    check("trickle", [link.read() for _ in range(3)],
          [(0, 0, b"ABCDEFG"), (0, 0, b"HIJKLMN"), (0, 4, b"OPQRST\n")])
    p.stdin.close()
    p.wait(10)
    p, ports = start("--vxi11", "0", "--stall")
    link = Link(ports["vxi11"])
    link.write(b"*IDN?\n")
    check("stall", link.read(timeout=100), (15, 0, b""))
    p.stdin.close()
    p.wait(10)


def clients(ports, log):
    import pyvisa
    rm = pyvisa.ResourceManager("@py")
    for resource in ("TCPIP::127.0.0.1::INSTR", "TCPIP::127.0.0.1::%d::SOCKET" % ports["socket"]):
        inst = rm.open_resource(resource, read_termination="\n", write_termination="\n", timeout=5000)
        check("pyvisa *IDN? " + resource, inst.query("*IDN?"), "Halvard,Ginkgo,100001/001,1.0")
        data = inst.query_binary_values("SIM:BLOCK? 100000", datatype="B", container=bytes)
        check("pyvisa block " + resource, data == block(100000), True)
        inst.close()
    rm.close()
    lxi = [["lxi", "scpi", "-a", "127.0.0.1"], ["lxi", "scpi", "-a", "127.0.0.1", "-r", "-p", str(ports["socket"])]]
    for command in lxi:
        out = subprocess.run(command + ["*IDN?"], capture_output=True, text=True, timeout=30).stdout
        check("lxi *IDN? " + " ".join(command[4:]), out.strip(), "Halvard,Ginkgo,100001/001,1.0")
        out = subprocess.run(command + ["-x", "SIM:BLOCK? 20"], capture_output=True, text=True, timeout=30).stdout
        check("lxi block " + " ".join(command[4:]), bytes(int(h, 16) for h in out.split()),
              b"#220" + block(20) + b"\n")
    with open(log) as f:
        lines = f.read().splitlines()
    check("log of the clients", [l for l in lines if l.startswith("*IDN?")],
          ["*IDN?\\n", "*IDN?\\n", "*IDN?", "*IDN?\\n"])


def portmapper_udp(vxi11):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.settimeout(10)
    s.sendto(struct.pack(">14I", 7, 0, 2, 100000, 2, 3, 0, 0, 0, 0, Link.CORE, 1, 6, 0), ("127.0.0.1", 111))
    check("GETPORT over UDP", struct.unpack(">7I", s.recv(100)), (7, 1, 0, 0, 0, 0, vxi11))


def main():
    try:
        import pyvisa  # noqa: F401
        import pyvisa_py  # noqa: F401
    except ImportError:
        print("SKIP: python3-pyvisa and python3-pyvisa-py are not installed")
        return SKIP
    if not shutil.which("lxi"):
        print("SKIP: lxi-tools is not installed")
        return SKIP
    with tempfile.TemporaryDirectory() as tmp:
        log = os.path.join(tmp, "log.txt")
        p, ports = start("--type", "Ginkgo", "--socket", "0", "--vxi11", "0", "--portmapper", "--log", log)
        if p is None:
            print("SKIP: the portmapper port 111 cannot be bound here:", ports.strip())
            return SKIP
        try:
            clients(ports, log)
            portmapper_udp(ports["vxi11"])
            core_channel(ports["vxi11"])
            faults()
        finally:
            p.stdin.close()
            p.wait(10)
    print("%d failures" % len(failures) if failures else "all interoperability checks passed")
    return 1 if failures else 0


sys.exit(main())
