// Reads one "SIM:BLOCK? N" reply from the instrument simulator and prints the
// seconds it took, either through a VISA library loaded with dlopen (in the
// chunks the acquisition reads) or through a plain socket for comparison.
//   bench_visa visa LIBRARY RESOURCE N
//   bench_visa plain PORT N
// Links nothing but libdl, as Orvex loads its VISA library at run time.
#include "common/visadefs.h"

#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <memory>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The acquisition reads 3000000 I/Q pairs of 8 bytes per call.
constexpr size_t Chunk = 3000000 * 8;

using Clock = std::chrono::steady_clock;

int fail(const char* what)
{
    std::fprintf(stderr, "bench_visa: %s\n", what);
    return 1;
}

// Byte k of the test block is k % 251; a sample per chunk proves the data.
bool spotCheck(const uint8_t* p, size_t n, uint64_t offset)
{
    return n == 0 || p[n - 1] == uint8_t((offset + n - 1) % 251);
}

int viaVisa(const char* lib, const char* rsrc, uint64_t n)
{
    void* h = dlopen(lib, RTLD_NOW | RTLD_LOCAL);
    if (!h)
        return fail(dlerror());
    auto openRM = reinterpret_cast<ViStatus (*)(ViSession*)>(dlsym(h, "viOpenDefaultRM"));
    auto open = reinterpret_cast<ViStatus (*)(ViSession, ViConstRsrc, ViAccessMode, ViUInt32, ViSession*)>(
        dlsym(h, "viOpen"));
    auto setAttr = reinterpret_cast<ViStatus (*)(ViObject, ViAttr, ViAttrState)>(dlsym(h, "viSetAttribute"));
    auto write = reinterpret_cast<ViStatus (*)(ViSession, ViConstBuf, ViUInt32, ViUInt32*)>(dlsym(h, "viWrite"));
    auto read = reinterpret_cast<ViStatus (*)(ViSession, ViBuf, ViUInt32, ViUInt32*)>(dlsym(h, "viRead"));
    auto close = reinterpret_cast<ViStatus (*)(ViObject)>(dlsym(h, "viClose"));
    if (!openRM || !open || !setAttr || !write || !read || !close)
        return fail("a VISA function is missing");
    ViSession rm = 0, vi = 0;
    if (openRM(&rm) < 0 || open(rm, rsrc, VI_NO_LOCK, 10000, &vi) < 0)
        return fail("cannot open the resource");
    setAttr(vi, VI_ATTR_TMO_VALUE, 60000);
    std::unique_ptr<uint8_t[]> buf(new uint8_t[Chunk]);
    const std::string cmd = "SIM:BLOCK? " + std::to_string(n) + "\n";

    const auto t0 = Clock::now();
    ViUInt32 got = 0;
    if (write(vi, reinterpret_cast<ViConstBuf>(cmd.data()), ViUInt32(cmd.size()), &got) < 0)
        return fail("write failed");
    if (read(vi, buf.get(), 2, &got) != VI_SUCCESS_MAX_CNT || buf[0] != '#')
        return fail("no block header");
    if (read(vi, buf.get(), ViUInt32(buf[1] - '0'), &got) != VI_SUCCESS_MAX_CNT)
        return fail("no block length");
    uint64_t total = 0;
    ViStatus st = VI_SUCCESS_MAX_CNT;
    while (st == VI_SUCCESS_MAX_CNT) {
        st = read(vi, buf.get(), ViUInt32(Chunk), &got);
        if (st < 0)
            return fail("read failed");
        if (!spotCheck(buf.get(), std::min<uint64_t>(got, n - std::min(n, total)), total))
            return fail("wrong data");
        total += got;
    }
    const double s = std::chrono::duration<double>(Clock::now() - t0).count();
    close(rm);
    if (total != n + 1)
        return fail("wrong length");
    std::printf("%.6f\n", s);
    return 0;
}

int plain(int port, uint64_t n)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
        return fail("cannot connect");
    std::unique_ptr<uint8_t[]> buf(new uint8_t[Chunk]);
    const std::string cmd = "SIM:BLOCK? " + std::to_string(n) + "\n";
    const uint64_t expect = 2 + std::to_string(n).size() + n + 1;

    const auto t0 = Clock::now();
    if (send(fd, cmd.data(), cmd.size(), MSG_NOSIGNAL) != ssize_t(cmd.size()))
        return fail("send failed");
    uint64_t total = 0;
    while (total < expect) {
        const ssize_t r = recv(fd, buf.get(), std::min<uint64_t>(Chunk, expect - total), 0);
        if (r <= 0)
            return fail("connection ended early");
        total += uint64_t(r);
    }
    const double s = std::chrono::duration<double>(Clock::now() - t0).count();
    ::close(fd);
    std::printf("%.6f\n", s);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 5 && std::strcmp(argv[1], "visa") == 0)
        return viaVisa(argv[2], argv[3], std::strtoull(argv[4], nullptr, 10));
    if (argc == 4 && std::strcmp(argv[1], "plain") == 0)
        return plain(std::atoi(argv[2]), std::strtoull(argv[3], nullptr, 10));
    std::fprintf(stderr, "usage: bench_visa visa LIBRARY RESOURCE N | bench_visa plain PORT N\n");
    return 2;
}
