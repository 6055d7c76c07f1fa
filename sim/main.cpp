// orvex-instrument-sim: a stand-in for the instruments Orvex acquires from,
// for tests, benchmarks and demonstrations without hardware.

#include "sim/instrument.h"
#include "sim/server.h"
#include "sim/types.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const char kHelp[] = R"help(Usage: orvex-instrument-sim [options]

Simulates one of the instruments Orvex acquires I/Q data from, on the loopback
interface, so that Init and Trace IQ can be tried without hardware.

  --type T          instrument type: number 0..17 or name, any case (default 1, Birch)
  --socket PORT     raw SCPI over TCP on 127.0.0.1:PORT (0 = a free port)
  --vxi11 PORT      VXI-11 core channel on 127.0.0.1:PORT (0 = a free port)
  --portmapper      also answer the portmapper on 127.0.0.1:111 (TCP and UDP), so that
                    VISA resources without a port find the VXI-11 channel; port 111
                    needs privileges, so use it inside a private network namespace
                    (for example: unshare -rn sh -c 'ip link set lo up; exec ...')
  --log FILE        append every message received to FILE, one per line, with line
                    feed, carriage return, tab and backslash written as \n \r \t \\
                    and other control or non-ASCII bytes as \xHH
  --idn TEXT        reply of "*IDN?" (default "Halvard,<type name>,100001/001,1.0")
  --opt TEXT        reply of "*OPT?" (default "OPT-A,OPT-C,OPT-D,OPT-E" for Ginkgo,
                    "OPT-A,OPT-B" for Pine and Rowan, "0" for the others)
  --bwid HZ         value of "BWID?" until one is set (default 1e6)
  --stdin-exit      end when standard input reaches end-of-file
  Faults, for testing clients:
  --stall           never answer queries (VXI-11 reads end with I/O timeout, error 15)
  --drop-after N    close the connection after N bytes of a reply longer than N
  --trickle N       send replies in pieces of at most N bytes
  --oversize        definite-length blocks carry more data than their header says
                    (half the announced length again, plus 16 bytes)
  --help            this text

Without --socket and --vxi11 it serves raw SCPI on port 5025. It prints one line
per listener ("socket 127.0.0.1:5025", "vxi11 ...", "portmapper ...") and then
"ready", and runs until interrupted.

Trying it from the Orvex window: start
    orvex-instrument-sim --type Birch --socket 5025
choose the device type Birch on the Trace tab, enter the resource string
    TCPIP::127.0.0.1::5025::SOCKET
and press Init, then Trace IQ. Over VXI-11 inside a private network namespace:
    orvex-instrument-sim --type Birch --vxi11 0 --portmapper
with the resource string TCPIP::127.0.0.1::INSTR.

Instrument types: 0 Alder, 1 Birch, 2 Cedar, 3 Dogwood, 4 Hazel, 5 Juniper,
6 Ginkgo, 7 Kapok, 8 Larch, 9 Maple, 10 Oak, 11 Pine, 12 Rowan, 13 Spruce,
14 Tamarack, 15 Wattle (analyzers and receivers), 16 Yew (handheld receiver),
17 Zelkova (oscilloscope).

Test signal: every data block or recording holds the complex tone
    I[k] = A*cos(2*pi*k/128), Q[k] = A*sin(2*pi*k/128),  k = 0, 1, 2 ...
(a tone at 1/128 of the sample rate), computed in double precision and rounded
to the type's number format:
  - analyzers ("TRAC:IQ:DATA?"): float32 little-endian, A = sqrt(0.05)
    (Alder 1000*sqrt(0.05), Kapok 1/5.3), which the acquisition's scaling turns
    into a unit circle; Alder and Kapok send all I values then all Q values;
    the other analyzers send I,Q pairs, but Birch, Dogwood, Ginkgo, Larch,
    Maple, Oak, Pine, Rowan, Spruce and Tamarack only after
    "TRAC:IQ:DATA:FORM IQP" (all I then all Q before it and after "*RST").
    The data query needs "TRAC:IQ ON" and "FORM REAL,32"; its size is the
    sample count of "TRAC:IQ:SET" (default 1000; Alder: rate x record length).
  - oscilloscope ("CHAN<n>:IQ:DATA?" after "IQ:STAT ON" and "RUNS"): float32
    little-endian I,Q pairs, A = 1, "IQ:RLEN" pairs.
  - handheld receiver: "TRAC:REC:STAR" ... "TRAC:REC:STOP" (after "DEM IQ",
    "TRAC:REC:SOUR IQ", "TRAC:REC:STOR FILE") stores "RecIQnnnn.riq" in
    "\Storage Card\Yew": an 84-byte header (clock 640000 as int32 at byte 32,
    sample count as uint64 at byte 64), then int16 little-endian I,Q pairs
    with A = 10000, 640000 samples per second recorded. "MMEM:CAT?" lists it,
    "MMEM:DATA? '<name>'" sends it as a block, "MMEM:DEL <name>" deletes it.
Blocks are "#<digits><length>" followed by the data and a line feed; a block of
1000000000 bytes or more is announced as "#(<length>)".

Simulator test queries:
  SIM:BLOCK? N   "#<d><N>", N bytes with byte k = k % 251, line feed
  SIM:INDEF? N   "#0", N bytes with byte k = 0x20 + k % 90, line feed
  SIM:TEXT? N    N letters A..Z repeating, line feed
)help";

[[noreturn]] void usage(const char* message)
{
    std::fprintf(stderr, "orvex-instrument-sim: %s\nTry --help.\n", message);
    std::exit(2);
}

long long number(int& i, int argc, char** argv, long long lo, long long hi)
{
    if (i + 1 >= argc)
        usage("an option lacks its value");
    char* end = nullptr;
    errno = 0;
    long long v = std::strtoll(argv[++i], &end, 10);
    if (errno || *end || end == argv[i] || v < lo || v > hi)
        usage("a number is out of range");
    return v;
}

int listenOrDie(int port, bool udp, int* bound)
{
    int fd = sim::listenOn(port, udp, bound);
    if (fd < 0) {
        std::fprintf(stderr, "orvex-instrument-sim: cannot listen on 127.0.0.1:%d (%s): %s\n", port,
                     udp ? "udp" : "tcp", std::strerror(errno));
        std::exit(3);
    }
    return fd;
}

} // namespace

int main(int argc, char** argv)
{
    sim::Settings settings;
    sim::Faults faults;
    int socketPort = -1, vxiPort = -1;
    bool portmapper = false, stdinExit = false;
    std::string logPath;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto text = [&]() -> std::string {
            if (i + 1 >= argc)
                usage("an option lacks its value");
            return argv[++i];
        };
        if (a == "--help" || a == "-h") {
            std::fputs(kHelp, stdout);
            return 0;
        } else if (a == "--type") {
            settings.type = sim::findType(text());
            if (settings.type < 0)
                usage("unknown instrument type");
        } else if (a == "--socket") {
            socketPort = int(number(i, argc, argv, 0, 65535));
        } else if (a == "--vxi11") {
            vxiPort = int(number(i, argc, argv, 0, 65535));
        } else if (a == "--portmapper") {
            portmapper = true;
        } else if (a == "--log") {
            logPath = text();
        } else if (a == "--idn") {
            settings.idn = text();
        } else if (a == "--opt") {
            settings.options = text();
        } else if (a == "--bwid") {
            std::string t = text();
            char* end = nullptr;
            settings.bandwidth = std::strtod(t.c_str(), &end);
            if (*end || end == t.c_str())
                usage("--bwid needs a number");
        } else if (a == "--stall") {
            settings.stall = true;
        } else if (a == "--drop-after") {
            faults.dropAfter = uint64_t(number(i, argc, argv, 1, (1ll << 62)));
        } else if (a == "--trickle") {
            faults.trickle = size_t(number(i, argc, argv, 1, 1ll << 30));
        } else if (a == "--oversize") {
            settings.oversize = true;
        } else if (a == "--stdin-exit") {
            stdinExit = true;
        } else {
            usage(("unknown option " + a).c_str());
        }
    }
    if (portmapper && vxiPort < 0)
        vxiPort = 0;
    if (socketPort < 0 && vxiPort < 0)
        socketPort = 5025;

    // Signals are taken synchronously by the main thread; the server threads
    // inherit the blocked mask.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    signal(SIGPIPE, SIG_IGN);

    static sim::MessageLog log;
    if (!logPath.empty() && !log.open(logPath)) {
        std::fprintf(stderr, "orvex-instrument-sim: cannot open the log %s: %s\n", logPath.c_str(), std::strerror(errno));
        return 3;
    }
    static sim::Instrument instrument(settings, &log);

    int bound = 0;
    if (socketPort >= 0) {
        int fd = listenOrDie(socketPort, false, &bound);
        std::printf("socket 127.0.0.1:%d\n", bound);
        sim::serveSocket(fd, &instrument, faults);
    }
    if (vxiPort >= 0) {
        int vxiFd = listenOrDie(vxiPort, false, &vxiPort);
        int tcp = portmapper ? listenOrDie(111, false, &bound) : -1;
        int udp = portmapper ? listenOrDie(111, true, &bound) : -1;
        std::printf("vxi11 127.0.0.1:%d\n", vxiPort);
        sim::serveVxi11(vxiFd, vxiPort, &instrument, faults);
        if (portmapper) {
            std::printf("portmapper 127.0.0.1:111\n");
            sim::servePortmapperTcp(tcp, vxiPort);
            sim::servePortmapperUdp(udp, vxiPort);
        }
    }
    std::printf("ready\n");
    std::fflush(stdout);

    int sfd = signalfd(-1, &stop, SFD_CLOEXEC);
    pollfd fds[2] = {{sfd, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
    char buf[4096];
    while (true) {
        int n = poll(fds, stdinExit ? 2 : 1, -1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 || fds[0].revents)
            break;
        if (fds[1].revents) {
            ssize_t r = read(STDIN_FILENO, buf, sizeof buf);
            if (r <= 0 && !(r < 0 && errno == EINTR))
                break;
        }
    }
    // Connection threads may be inside a send; leave without unwinding them.
    std::fflush(stdout);
    _exit(0);
}
