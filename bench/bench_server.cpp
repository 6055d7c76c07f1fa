// Symbols reply throughput over loopback against a plain socket transfer of
// the same bytes (and a peer server on PYPORT, bench/server.py, when given),
// and how long the serving event loop goes unanswered meanwhile.
// Usage: bench_server [samples [rounds [PYPORT]]]
#include "formats/iqdata.h"
#include "remote/symbolserver.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

int connectTo(uint16_t port)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        std::perror("connect");
        std::exit(1);
    }
    return fd;
}

// Reads n bytes; sums every 4093rd byte of the stream, position-weighted,
// to compare replies without a full checksum slowing the reader.
bool readAll(int fd, char* buf, size_t bufSize, uint64_t n, uint64_t* sum)
{
    constexpr uint64_t kStride = 4093;
    uint64_t pos = 0;
    while (pos < n) {
        ssize_t r = ::recv(fd, buf, size_t(std::min<uint64_t>(n - pos, bufSize)), 0);
        if (r <= 0)
            return false;
        uint64_t k = (pos + kStride - 1) / kStride * kStride;
        for (; k < pos + uint64_t(r); k += kStride)
            *sum += (k + 1) * uint8_t(buf[k - pos]);
        pos += uint64_t(r);
    }
    return true;
}

// The client both transfers use: skip a greeting, ask, read the reply.
// Returns seconds from the request to the last byte.
double fetch(uint16_t port, size_t greeting, uint64_t replyBytes, uint64_t* sum)
{
    int fd = connectTo(port);
    std::vector<char> buf(4 << 20);
    uint64_t dummy = 0;
    if (!readAll(fd, buf.data(), buf.size(), greeting, &dummy))
        std::exit(1);
    auto t0 = Clock::now();
    if (::send(fd, "GetSymbol", 9, 0) != 9)
        std::exit(1);
    if (!readAll(fd, buf.data(), buf.size(), replyBytes, sum)) {
        std::fprintf(stderr, "reply cut short\n");
        std::exit(1);
    }
    double s = std::chrono::duration<double>(Clock::now() - t0).count();
    ::close(fd);
    return s;
}

// The plain transfer: the reply prepared in memory, sent with blocking
// send() calls of 4 MB from its own thread.
double plainTransfer(const std::vector<uint8_t>& wire, uint64_t* sum)
{
    int ls = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (bind(ls, reinterpret_cast<sockaddr*>(&a), len) != 0 || listen(ls, 1) != 0) {
        std::perror("listen");
        std::exit(1);
    }
    getsockname(ls, reinterpret_cast<sockaddr*>(&a), &len);
    std::thread server([&] {
        int fd = accept(ls, nullptr, nullptr);
        char req[16];
        if (recv(fd, req, sizeof req, 0) <= 0)
            std::exit(1);
        size_t off = 0;
        while (off < wire.size()) {
            ssize_t w = send(fd, wire.data() + off, std::min<size_t>(wire.size() - off, 4 << 20), 0);
            if (w <= 0)
                std::exit(1);
            off += size_t(w);
        }
        ::close(fd);
    });
    double s = fetch(ntohs(a.sin_port), 0, wire.size(), sum);
    server.join();
    ::close(ls);
    return s;
}

struct Served {
    double seconds;
    double maxGapMs;
};

// The symbol server on this thread's event loop, the client on another
// thread; a 10 ms timer on the serving loop records the longest gap.
Served serverTransfer(SymbolServer::DataFn source, uint64_t n, uint64_t* sum)
{
    SymbolServer srv;
    srv.setStateSource([n] { return ServeState{true, true, n, 1e8, 1}; });
    srv.setSymbolSource(std::move(source));
    if (!srv.listen(0)) {
        std::fprintf(stderr, "listen: %s\n", qPrintable(srv.errorString()));
        std::exit(1);
    }
    QElapsedTimer since;
    double maxGap = 0;
    bool inFlight = false;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        if (inFlight)
            maxGap = std::max(maxGap, since.nsecsElapsed() / 1e6);
        since.restart();
    });
    QObject::connect(&srv, &SymbolServer::requestReceived, [&] {
        inFlight = true;
        since.restart();
    });
    probe.start(10);
    since.start();
    double secs = 0;
    std::thread client([&] {
        secs = fetch(srv.serverPort(), 24, 4 + 8 * n, sum);
        QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    });
    QCoreApplication::exec();
    client.join();
    return {secs, std::max(0.0, maxGap - 10.0)};
}

} // namespace

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const uint64_t n = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 50000000;
    const int rounds = std::max(1, argc > 2 ? std::atoi(argv[2]) : 3);
    const uint16_t pyPort = argc > 3 ? uint16_t(std::atoi(argv[3])) : 0;
    const double mb = double(4 + 8 * n) / 1e6;

    IQDatStr rec;
    if (MakeIQArr(&rec, n) != ST_OK)
        return 1;
    rec.N = n;
    for (uint64_t k = 0; k < n; ++k) {
        rec.I[k] = float(k % 1000) * 0.001f;
        rec.Q[k] = -float(k % 777) * 0.001f;
    }
    std::vector<uint8_t> wire(size_t(4 + 8 * n));
    // orvex-cli serve hands its loaded record over as this copy is.
    IQDatStr served;
    if (MakeIQArr(&served, n) != ST_OK)
        return 1;
    std::memcpy(served.I, rec.I, n * sizeof(float));
    std::memcpy(served.Q, rec.Q, n * sizeof(float));
    served.N = n;
    SymbolData::Ptr shared = SymbolData::adopt(&served);
    shared->fill(0, wire.data(), wire.size());

    // The contenders take turns within each round, so that a change in the
    // machine's load falls on all of them; the median of the rounds counts.
    std::vector<double> plain, py, cli, win, cliGaps, winGaps;
    for (int round = 0; round < rounds; ++round) {
        uint64_t sumPlain = 0, sumPy = 0, sumCli = 0, sumWin = 0;
        plain.push_back(plainTransfer(wire, &sumPlain));
        if (pyPort) {
            py.push_back(fetch(pyPort, 0, wire.size(), &sumPy));
            if (sumPy != sumPlain) {
                std::fprintf(stderr, "the Python server's reply differs from the plain transfer\n");
                return 1;
            }
        }
        // orvex-cli serve: the loaded samples are handed to the server once.
        // The window: each reply shares the load record's arrays. The two
        // swap places every round, as a transfer right after another one
        // measured slower.
        auto cliRun = [&] { return serverTransfer([shared] { return shared; }, n, &sumCli); };
        auto winRun = [&] { return serverTransfer([&rec] { return SymbolData::share(rec); }, n, &sumWin); };
        Served c{}, w{};
        if (round % 2) {
            w = winRun();
            c = cliRun();
        } else {
            c = cliRun();
            w = winRun();
        }
        if (sumCli != sumPlain || sumWin != sumPlain) {
            std::fprintf(stderr, "replies differ from the plain transfer\n");
            return 1;
        }
        cli.push_back(c.seconds);
        win.push_back(w.seconds);
        cliGaps.push_back(c.maxGapMs);
        winGaps.push_back(w.maxGapMs);
    }
    FreeArr(&rec);
    const double tPlain = median(plain);
    const double tPy = pyPort ? median(py) : 0;
    auto line = [&](const char* name, const std::vector<double>& t, const std::vector<double>& gaps) {
        const double m = median(t);
        std::printf("  %-40s %6.0f MB/s  %.2fx C socket", name, mb / m, tPlain / m);
        if (pyPort)
            std::printf("  %.2fx Python", tPy / m);
        std::printf("  longest event-loop gap %.1f ms (median; worst %.1f)\n", median(gaps),
                    *std::max_element(gaps.begin(), gaps.end()));
    };
    std::printf("  symbols reply of %llu samples (%.0f MB) over loopback; samples in memory (no file); "
                "median of %d rounds\n", (unsigned long long)n, mb, rounds);
    std::printf("  %-40s %6.0f MB/s\n", "plain C socket, send() of 4 MB", mb / tPlain);
    if (pyPort)
        std::printf("  %-40s %6.0f MB/s\n", "plain Python socket server, sendall", mb / tPy);
    line("symbol server, orvex-cli serve", cli, cliGaps);
    line("symbol server, window (load record)", win, winGaps);
    std::printf("  targets: >= 0.80x C socket, >= 1x Python, event-loop gap < 50 ms\n");
    return 0;
}
