// Orvex's VISA library: the message-end scanner, the exported names, and
// sessions against the instrument simulator over raw sockets and VXI-11.
#include "common/byteorder.h"
#include "visa/eom.h"
#include "visa/format.h"
#include "visa/orvexvisa.h"
#include "visa/readreply.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>
#include <dlfcn.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

Q_DECLARE_METATYPE(std::vector<int>)

namespace {

const char* const Exported[] = {"viOpenDefaultRM", "viFindRsrc", "viFindNext", "viStatusDesc", "viOpen", "viWrite",
                                "viRead", "viQueryf", "viPrintf", "viScanf", "viReadToFile", "viClear", "viClose",
                                "viSetAttribute", "viGetAttribute", "viSetBuf", "viReadSTB", "viGpibControlREN"};
const QByteArray Idn = "Halvard,Birch,100001/001,1.0\n";

bool portmapperFree()
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(111);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(fd);
    return ok;
}

ViStatus scan(const char* fmt, const char* text, ...)
{
    va_list ap;
    va_start(ap, text);
    const ViStatus st = ovisa::scanMessage(fmt, &ap, text, strlen(text));
    va_end(ap);
    return st;
}

ViStatus format(std::string* out, const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    const ViStatus st = ovisa::formatMessage(fmt, &ap, out);
    va_end(ap);
    return st;
}

// The simulator with one transport; it ends when the test closes its input.
struct Sim {
    QProcess p;
    QByteArray rsrc;
    bool start(const QString& transport, const QStringList& extra = {})
    {
        const bool vxi = transport == "vxi11";
        p.start(ORVEX_SIM, QStringList{"--stdin-exit", vxi ? "--vxi11" : "--socket", "0"}
                               + (vxi ? QStringList{"--portmapper"} : QStringList{}) + extra);
        QByteArray out;
        while (!out.contains("ready\n"))
            if (!p.waitForReadyRead(10000))
                return false;
            else
                out += p.readAllStandardOutput();
        const auto m = QRegularExpression("socket 127.0.0.1:(\\d+)").match(out);
        rsrc = vxi ? "TCPIP::127.0.0.1::INSTR" : "tcpip0::127.0.0.1::" + m.captured(1).toLatin1() + "::socket";
        return true;
    }
    ~Sim()
    {
        p.closeWriteChannel();
        if (!p.waitForFinished(5000))
            p.kill();
        p.waitForFinished(5000);
    }
};

struct Session {
    ViSession rm = VI_NULL, vi = VI_NULL;
    ViStatus open(const char* rsrc, ViUInt32 tmo = 2000)
    {
        viOpenDefaultRM(&rm);
        const ViStatus st = viOpen(rm, rsrc, VI_NO_LOCK, 0, &vi);
        viSetAttribute(vi, VI_ATTR_TMO_VALUE, tmo);
        return st;
    }
    ~Session() { viClose(rm); }
    ViStatus write(const QByteArray& cmd) { return viWrite(vi, reinterpret_cast<ViConstBuf>(cmd.data()), cmd.size(), nullptr); }
    ViStatus read(ViUInt32 count, QByteArray* out)
    {
        QByteArray b(int(count), 0);
        ViUInt32 got = 0xDEAD;
        const ViStatus st = viRead(vi, reinterpret_cast<ViPBuf>(b.data()), count, &got);
        *out += b.left(int(got));
        return got <= count ? st : VI_ERROR_SYSTEM_ERROR;
    }
};

QByteArray testBlock(qint64 n)
{
    QByteArray b(int(n), 0);
    for (qint64 k = 0; k < n; ++k)
        b[int(k)] = char(k % 251);
    return b;
}

// Starts the simulator for a transport row, skipping VXI-11 where the
// portmapper's port cannot be had.
#define START(sim, transport, ...)                                                                               \
    if ((transport) == "vxi11" && !portmapperFree())                                                             \
        QSKIP("127.0.0.1:111 cannot be bound (no private network namespace): VXI-11 runs only under netns.sh");  \
    QVERIFY2((sim).start(transport, ##__VA_ARGS__), "simulator did not start")

} // namespace

class TstVisa : public QObject {
    Q_OBJECT
    QTemporaryDir dir;

private slots:
    void scanner_data();
    void scanner();
    void formattedIo();
    void readReply_data();
    void readReply();
    void exportsExactly();
    void resourceNames_data();
    void resourceNames();
    void sessionsAndAttributes();
    void transports_data();
    void blockInPieces_data();
    void blockInPieces();
    void messages_data();
    void messages();
    void readToFile_data() { transports_data(); }
    void readToFile();
    void faults_data();
    void faults();
    void control_data() { transports_data(); }
    void control();
};

void TstVisa::scanner_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<std::vector<int>>("ends"); // message lengths
    QTest::newRow("text") << QByteArray("*IDN?\nnext\n") << std::vector<int>{6, 5};
    QTest::newRow("definite with line feeds") << QByteArray("#15a\nb\nc\nok\n") << std::vector<int>{9, 3};
    QTest::newRow("after header and comma") << QByteArray("CURV #12\n\n,#11\n\n") << std::vector<int>{16};
    QTest::newRow("paren form") << QByteArray("#(12)\n\n\n\n\n\n\n\n\n\n\n\n\n") << std::vector<int>{18};
    QTest::newRow("indefinite") << QByteArray("#0ab#15cd\nx\n") << std::vector<int>{10, 2};
    QTest::newRow("empty definite") << QByteArray("#10\n#(0)\n") << std::vector<int>{4, 5};
    QTest::newRow("hash inside a word") << QByteArray("a#12\n\n") << std::vector<int>{5, 1};
    QTest::newRow("hash inside quotes") << QByteArray("\"x,#12\"\n\n") << std::vector<int>{8, 1};
    QTest::newRow("broken headers are text") << QByteArray("#3a\n#(\n#(1x\n##12\n") << std::vector<int>{4, 3, 5, 5};
    QTest::newRow("paren too long") << QByteArray("#(1234567890123456789)\n") << std::vector<int>{23};
    QTest::newRow("open block") << QByteArray("#19\n\n") << std::vector<int>{};
}

void TstVisa::scanner()
{
    QFETCH(QByteArray, stream);
    QFETCH(std::vector<int>, ends);
    const auto* p = reinterpret_cast<const uint8_t*>(stream.constData());
    for (int piece : {1, 2, 3, 7, stream.size()}) {
        ovisa::EomScanner eom;
        std::vector<int> got;
        int start = 0;
        for (int at = 0; at < stream.size();) {
            bool end = false;
            const int n = std::min(piece, stream.size() - at);
            const int k = int(eom.feed(p + at, size_t(n), &end));
            QVERIFY(k <= n && (end || k == n));
            at += k;
            if (end)
                got.push_back(at - start), start = at;
        }
        QVERIFY2(got == ends, qPrintable(QString("pieces of %1").arg(piece)));
    }
}

// Widths and '#' sizes bound every string a reply is scanned into.
void TstVisa::formattedIo()
{
    char word[6], rest[4];
    ViUInt32 size = sizeof rest;
    int i = 0;
    long l = 0;
    float f = 0;
    double d = 0;
    QCOMPARE(scan("%5s%#t", "abcdefgh\n", word, &size, rest), VI_SUCCESS);
    QCOMPARE(QByteArray(word) + "|" + QByteArray(rest), QByteArray("abcde|fgh"));
    QCOMPARE(size, 3u);
    QCOMPARE(scan("%d,%lf;%f %ld", "-12,1.5E6;2.5  7\n", &i, &d, &f, &l), VI_SUCCESS);
    QVERIFY(i == -12 && d == 1.5e6 && f == 2.5f && l == 7);
    QCOMPARE(scan("%d", "x", &i), VI_SUCCESS); // no number: left as it was
    QCOMPARE(i, -12);
    QCOMPARE(scan("%q", "x", &i), VI_ERROR_NSUP_FMT);
    std::string out;
    QCOMPARE(format(&out, "%s=%5.2f|%-3d|%c%%|%lu|%*d", "a", 1.5, 7, 'x', 42ul, 3, 5), VI_SUCCESS);
    QCOMPARE(QByteArray(out.c_str()), QByteArray("a= 1.50|7  |x%|42|  5"));
    QCOMPARE(format(&out, "%b", 1), VI_ERROR_NSUP_FMT);
}

void TstVisa::readReply_data()
{
    QTest::addColumn<quint32>("len");
    for (quint32 len : {0u, 1u, 7u, 8u, 9u, 0xFFFFFFF0u})
        QTest::addRow("%u", len) << len;
}

// device_read's data lands in the caller's buffer of 8 bytes or not at all.
void TstVisa::readReply()
{
    QFETCH(quint32, len);
    uint8_t wire[12 + 12] = {};
    io::putBe32(wire + 4, 4); // reason: END
    io::putBe32(wire + 8, len);
    for (int k = 0; k < 12; ++k)
        wire[12 + k] = uint8_t('a' + k);
    char buf[8 + 4];
    memset(buf, '#', sizeof buf);
    ovisa::ReadReply r;
    r.buf = buf;
    r.cap = 8;
    XDR x;
    xdrmem_create(&x, reinterpret_cast<char*>(wire), sizeof wire, XDR_DECODE);
    QCOMPARE(bool(ovisa::xdrReadReply(&x, &r)), len <= 8);
    QCOMPARE(r.oversize, len > 8);
    QCOMPARE(r.got, len <= 8 ? len : 0u);
    QCOMPARE(QByteArray(buf, 12), QByteArray("abcdefgh").left(int(r.got)) + QByteArray(12 - int(r.got), '#'));
    xdr_destroy(&x);
}

void TstVisa::exportsExactly()
{
    void* lib = dlopen(ORVEX_VISA_LIB, RTLD_NOW | RTLD_LOCAL);
    QVERIFY2(lib, dlerror());
    QSet<QString> expected;
    for (const char* name : Exported) {
        QVERIFY2(dlsym(lib, name), name);
        expected << name;
    }
    dlclose(lib);
    QProcess nm;
    nm.start("nm", {"-D", "--defined-only", "--format=posix", ORVEX_VISA_LIB});
    QVERIFY(nm.waitForFinished(30000) && nm.exitCode() == 0);
    QSet<QString> defined;
    for (const QByteArray& line : nm.readAllStandardOutput().split('\n'))
        if (!line.isEmpty())
            defined << QString(line.split(' ').first());
    QCOMPARE(defined, expected);
}

void TstVisa::resourceNames_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<ViStatus>("status");
    for (const char* other : {"GPIB0::20::INSTR", "USB0::0x1::0x2::SN::INSTR", "ASRL1::INSTR",
                              "TCPIP::127.0.0.1::hislip0::INSTR", "TCPIP::127.0.0.1::1::SOCKET",
                              "TCPIP::127.0.0.1::inst0::INSTR"})
        QTest::newRow(other) << QByteArray(other) << VI_ERROR_RSRC_NFOUND;
    for (const char* bad : {"", "TCPIP", "TCPIP::", "FOO::1::INSTR", "TCPIPx::h::INSTR", "TCPIP::h::SOCKET",
                            "TCPIP::h::0::SOCKET", "TCPIP::h::65536::SOCKET", "TCPIP::h::a::b", "TCPIP::[::1::INSTR",
                            "TCPIP::h::inst0::INSTR::x"})
        QTest::newRow(bad) << QByteArray(bad) << VI_ERROR_INV_RSRC_NAME;
}

void TstVisa::resourceNames()
{
    QFETCH(QByteArray, name);
    QFETCH(ViStatus, status);
    if (name.startsWith("TCPIP::127.0.0.1::inst0") && !portmapperFree())
        QSKIP("a portmapper may answer on this host");
    Session s;
    QCOMPARE(s.open(name.constData()), status);
    QCOMPARE(s.vi, ViSession(VI_NULL));
}

void TstVisa::sessionsAndAttributes()
{
    Sim sim;
    START(sim, QString("socket"));
    Session s;
    QCOMPARE(s.open(sim.rsrc.constData()), VI_SUCCESS);
    struct Row {
        ViAttr attr;
        int width;
        quint32 initial, set;
        ViStatus setStatus;
    };
    const Row rows[] = {
        {VI_ATTR_TMO_VALUE, 4, 2000, 70000, VI_SUCCESS},
        {VI_ATTR_TERMCHAR, 1, '\n', 'C', VI_SUCCESS},
        {VI_ATTR_TERMCHAR_EN, 2, VI_FALSE, VI_TRUE, VI_SUCCESS},
        {VI_ATTR_SEND_END_EN, 2, VI_TRUE, 2, VI_ERROR_NSUP_ATTR_STATE},
        {VI_ATTR_RD_BUF_OPER_MODE, 2, VI_FLUSH_DISABLE, VI_FLUSH_ON_ACCESS, VI_SUCCESS},
        {VI_ATTR_WR_BUF_OPER_MODE, 2, VI_FLUSH_WHEN_FULL, VI_FLUSH_DISABLE, VI_ERROR_NSUP_ATTR_STATE},
        {VI_ATTR_INTF_TYPE, 2, VI_INTF_TCPIP, VI_INTF_GPIB, VI_ERROR_ATTR_READONLY},
        {VI_ATTR_TCPIP_NODELAY, 2, VI_TRUE, VI_FALSE, VI_SUCCESS},
    };
    for (const Row& r : rows) {
        quint8 raw[8];
        memset(raw, 0xAA, sizeof raw);
        QCOMPARE(viGetAttribute(s.vi, r.attr, raw), VI_SUCCESS);
        quint32 v = 0;
        memcpy(&v, raw, size_t(r.width));
        QCOMPARE(v, r.initial);
        QCOMPARE(raw[r.width], quint8(0xAA)); // nothing past the attribute's width
        QCOMPARE(viSetAttribute(s.vi, r.attr, r.set), r.setStatus);
    }
    char text[VI_FIND_BUFLEN];
    QCOMPARE(viGetAttribute(s.vi, VI_ATTR_RSRC_CLASS, text), VI_SUCCESS);
    QCOMPARE(QByteArray(text), QByteArray("SOCKET"));
    QCOMPARE(viGetAttribute(s.vi, VI_ATTR_TCPIP_DEVICE_NAME, text), VI_ERROR_NSUP_ATTR);
    QCOMPARE(viSetAttribute(s.vi, 0x3FFF0FFF, 0), VI_ERROR_NSUP_ATTR);
    QCOMPARE(viStatusDesc(s.vi, VI_ERROR_TMO, text), VI_SUCCESS);
    QVERIFY(QByteArray(text).startsWith("VI_ERROR_TMO"));
    QCOMPARE(viStatusDesc(s.vi, 0x3FFF7777, text), VI_WARN_UNKNOWN_STATUS);
    ViFindList list = 1;
    QCOMPARE(viFindRsrc(s.rm, "?*INSTR", &list, nullptr, text), VI_ERROR_RSRC_NFOUND);
    QCOMPARE(viRead(s.rm, reinterpret_cast<ViPBuf>(text), 1, nullptr), VI_ERROR_NSUP_OPER);
    // Closing the manager closes its sessions; their handles die with it.
    QCOMPARE(viClose(s.rm), VI_SUCCESS);
    QCOMPARE(viWrite(s.vi, reinterpret_cast<ViConstBuf>("*CLS\n"), 5, nullptr), VI_ERROR_INV_OBJECT);
    QCOMPARE(viClose(s.vi), VI_ERROR_INV_OBJECT);
    QCOMPARE(viClose(VI_NULL), VI_WARN_NULL_OBJECT);
    s.rm = VI_NULL;
}

void TstVisa::transports_data()
{
    QTest::addColumn<QString>("transport");
    QTest::newRow("socket") << QString("socket");
    QTest::newRow("vxi11") << QString("vxi11");
}

void TstVisa::blockInPieces_data()
{
    QTest::addColumn<QString>("transport");
    QTest::addColumn<qint64>("n");
    QTest::addColumn<ViUInt32>("chunk");
    for (const char* t : {"socket", "vxi11"}) {
        for (qint64 n : {0, 1, 4094, 4095, 4096, 4097})
            QTest::addRow("%s %lld", t, n) << QString(t) << n << ViUInt32(4096);
        QTest::addRow("%s 5 MB", t) << QString(t) << qint64(5 * 1000 * 1000 + 17) << ViUInt32(1 << 20);
    }
}

// Header first, then the data in chunks as the acquisition reads it: every
// chunk but the last stops at the count, the last one at the message end.
void TstVisa::blockInPieces()
{
    QFETCH(QString, transport);
    QFETCH(qint64, n);
    QFETCH(ViUInt32, chunk);
    Sim sim;
    START(sim, transport);
    Session s;
    QCOMPARE(s.open(sim.rsrc.constData()), VI_SUCCESS);
    QCOMPARE(s.write("SIM:BLOCK? " + QByteArray::number(n) + "\n"), VI_SUCCESS);
    QByteArray head;
    QCOMPARE(s.read(2, &head), VI_SUCCESS_MAX_CNT);
    QCOMPARE(s.read(ViUInt32(head[1] - '0'), &head), VI_SUCCESS_MAX_CNT);
    QCOMPARE(head, "#" + QByteArray::number(QByteArray::number(n).size()) + QByteArray::number(n));
    QByteArray data;
    for (qint64 left = n + 1; left > 0; left -= chunk) {
        const int before = data.size();
        QCOMPARE(s.read(chunk, &data), left > chunk ? VI_SUCCESS_MAX_CNT : VI_SUCCESS);
        QCOMPARE(qint64(data.size() - before), std::min<qint64>(left, chunk));
    }
    QVERIFY(data == testBlock(n) + "\n");
}

void TstVisa::messages_data()
{
    QTest::addColumn<QString>("transport");
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<std::vector<int>>("counts");
    QTest::addColumn<std::vector<int>>("statuses");
    QTest::addColumn<QByteArray>("reply");
    QByteArray indef(5000, 0);
    for (int k = 0; k < indef.size(); ++k)
        indef[k] = char(0x20 + k % 90);
    for (const char* t : {"socket", "vxi11"}) {
        QTest::addRow("%s idn", t) << QString(t) << QByteArray("*IDN?\n") << std::vector<int>{20000}
                                   << std::vector<int>{VI_SUCCESS} << Idn;
        QTest::addRow("%s count first", t) << QString(t) << QByteArray("SIM:TEXT? 30\n") << std::vector<int>{26, 26}
                                           << std::vector<int>{VI_SUCCESS_MAX_CNT, VI_SUCCESS}
                                           << QByteArray("ABCDEFGHIJKLMNOPQRSTUVWXYZABCD\n");
        QTest::addRow("%s indefinite", t) << QString(t) << QByteArray("SIM:INDEF? 5000\n")
                                          << std::vector<int>{4096, 4096}
                                          << std::vector<int>{VI_SUCCESS_MAX_CNT, VI_SUCCESS} << "#0" + indef + "\n";
        QTest::addRow("%s two replies", t) << QString(t) << QByteArray("SIM:TEXT? 3\n*IDN?\n")
                                           << std::vector<int>{100, 100} << std::vector<int>{VI_SUCCESS, VI_SUCCESS}
                                           << "ABC\n" + Idn;
        // -1: VI_ATTR_TERMCHAR_EN with "C"
        QTest::addRow("%s term char", t) << QString(t) << QByteArray("SIM:TEXT? 5\n") << std::vector<int>{-1, 100}
                                         << std::vector<int>{VI_SUCCESS_TERM_CHAR, VI_SUCCESS} << QByteArray("ABCDE\n");
    }
}

void TstVisa::messages()
{
    QFETCH(QString, transport);
    QFETCH(QByteArray, command);
    QFETCH(std::vector<int>, counts);
    QFETCH(std::vector<int>, statuses);
    QFETCH(QByteArray, reply);
    Sim sim;
    START(sim, transport);
    Session s;
    QCOMPARE(s.open(sim.rsrc.constData()), VI_SUCCESS);
    QCOMPARE(s.write(command), VI_SUCCESS);
    QByteArray got;
    for (size_t i = 0; i < counts.size(); ++i) {
        viSetAttribute(s.vi, VI_ATTR_TERMCHAR, 'C');
        viSetAttribute(s.vi, VI_ATTR_TERMCHAR_EN, counts[i] < 0);
        QCOMPARE(s.read(ViUInt32(counts[i] < 0 ? 100 : counts[i]), &got), statuses[i]);
    }
    QCOMPARE(got, reply);
    // Formatted I/O on the same session.
    char text[256] = {};
    double bw = 0;
    QCOMPARE(viQueryf(s.vi, "SIM:TEXT? %d\n", "%t", 4, text), VI_SUCCESS);
    QCOMPARE(QByteArray(text), QByteArray("ABCD\n"));
    QCOMPARE(viQueryf(s.vi, "%s\n", "%lf", "BWID?", &bw), VI_SUCCESS);
    QCOMPARE(bw, 1e6);
    QCOMPARE(viPrintf(s.vi, "*IDN?\n"), VI_SUCCESS);
    QCOMPARE(viScanf(s.vi, "%s", text), VI_SUCCESS);
    QCOMPARE(QByteArray(text) + "\n", Idn);
}

void TstVisa::readToFile()
{
    QFETCH(QString, transport);
    Sim sim;
    START(sim, transport);
    Session s;
    QCOMPARE(s.open(sim.rsrc.constData()), VI_SUCCESS);
    const QByteArray path = dir.filePath("trace.tmp").toLocal8Bit();
    QByteArray expected;
    for (bool append : {false, true}) {
        QCOMPARE(s.write("SIM:BLOCK? 300000\n"), VI_SUCCESS);
        QByteArray head;
        QCOMPARE(s.read(8, &head), VI_SUCCESS_MAX_CNT);
        viSetAttribute(s.vi, VI_ATTR_FILE_APPEND_EN, append);
        ViUInt32 got = 0;
        QCOMPARE(viReadToFile(s.vi, path.constData(), 300000 + 10, &got), VI_SUCCESS);
        QCOMPARE(got, ViUInt32(300001));
        expected = (append ? expected : QByteArray()) + testBlock(300000) + "\n";
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QVERIFY(f.readAll() == expected);
    }
    QCOMPARE(s.write("*IDN?\n"), VI_SUCCESS);
    QCOMPARE(viReadToFile(s.vi, dir.filePath("no/such/dir").toLocal8Bit().constData(), 100, nullptr),
             VI_ERROR_FILE_ACCESS);
}

void TstVisa::faults_data()
{
    QTest::addColumn<QString>("transport");
    QTest::addColumn<QString>("fault");
    for (const char* t : {"socket", "vxi11"})
        for (const char* f : {"--stall", "--drop-after", "--oversize"})
            QTest::addRow("%s %s", t, f) << QString(t) << QString(f);
}

void TstVisa::faults()
{
    QFETCH(QString, transport);
    QFETCH(QString, fault);
    Sim sim;
    START(sim, transport, fault == "--drop-after" ? QStringList{fault, "100000"} : QStringList{fault});
    Session s;
    QCOMPARE(s.open(sim.rsrc.constData(), 300), VI_SUCCESS);
    const qint64 n = 1000000;
    QCOMPARE(s.write("SIM:BLOCK? " + QByteArray::number(n) + "\n"), VI_SUCCESS);
    QByteArray got;
    QElapsedTimer t;
    t.start();
    if (fault == "--stall") {
        QCOMPARE(s.read(100, &got), VI_ERROR_TMO);
        QVERIFY2(t.elapsed() >= 290 && t.elapsed() < 3000, qPrintable(QString::number(t.elapsed())));
    } else if (fault == "--drop-after") {
        // The read takes exactly what came before the drop, so the write is
        // the first to meet the closed connection: no SIGPIPE may reach us.
        QCOMPARE(s.read(100000, &got), VI_SUCCESS_MAX_CNT);
        QVERIFY(got.mid(9) == testBlock(100000 - 9));
        QCOMPARE(s.write(QByteArray(16 << 20, '*')), VI_ERROR_CONN_LOST);
        QCOMPARE(s.read(10, &got), VI_ERROR_CONN_LOST);
    } else {
        // More data than the header announced: reads stay within their
        // counts, the announced bytes are right, the surplus is read off as
        // further data, and the session then answers normally.
        QCOMPARE(s.read(9 + n, &got), VI_SUCCESS_MAX_CNT);
        QVERIFY(got.mid(9) == testBlock(n));
        const qint64 surplus = 16 + (n / 2 & ~7LL) + 1;
        for (ViStatus st = VI_SUCCESS_MAX_CNT; got.size() < 9 + n + surplus;)
            QVERIFY((st = s.read(4096, &got)) == VI_SUCCESS_MAX_CNT || st == VI_SUCCESS);
        QCOMPARE(got.size(), 9 + n + surplus);
        got.clear();
        QCOMPARE(s.write("*IDN?\n"), VI_SUCCESS);
        QCOMPARE(s.read(200, &got), VI_SUCCESS);
        QCOMPARE(got, Idn);
    }
}

// A write longer than a VXI-11 link takes at once, status byte, device clear
// and go-to-local per transport.
void TstVisa::control()
{
    QFETCH(QString, transport);
    Sim sim;
    const QString log = dir.filePath("sim-" + transport + ".log");
    START(sim, transport, {"--log", log});
    Session s;
    QCOMPARE(s.open(sim.rsrc.constData()), VI_SUCCESS);
    // Pieces of at most 1 MB with END on the last only: the simulator sees
    // the two messages whole.
    const QByteArray big = "ZZZ #71500000" + QByteArray(1500000, 'A');
    QCOMPARE(s.write(big + "\n*IDN?\n"), VI_SUCCESS);
    QByteArray idn;
    QCOMPARE(s.read(200, &idn), VI_SUCCESS);
    QCOMPARE(idn, Idn);
    QFile f(log);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QVERIFY(f.readAll() == big + "\\n\n*IDN?\\n\n"); // the log escapes each line feed
    ViUInt16 stb = 0xFFFF;
    QCOMPARE(viReadSTB(s.vi, &stb), VI_SUCCESS);
    QVERIFY(stb < 256);
    QCOMPARE(s.write("SIM:TEXT? 100\n"), VI_SUCCESS);
    QByteArray got;
    QCOMPARE(s.read(10, &got), VI_SUCCESS_MAX_CNT);
    QCOMPARE(viClear(s.vi), VI_SUCCESS);
    QCOMPARE(s.write("*IDN?\n"), VI_SUCCESS);
    got.clear();
    QCOMPARE(s.read(200, &got), VI_SUCCESS);
    QCOMPARE(got, Idn);
    const bool vxi = transport == "vxi11";
    QCOMPARE(viGpibControlREN(s.vi, VI_GPIB_REN_ADDRESS_GTL), vxi ? VI_SUCCESS : VI_ERROR_NSUP_OPER);
    QCOMPARE(viGpibControlREN(s.vi, 7), vxi ? VI_ERROR_INV_MODE : VI_ERROR_NSUP_OPER);
}

QTEST_GUILESS_MAIN(TstVisa)
#include "tst_visa.moc"
