// Trace acquisition through Orvex's VISA library: the messages the simulator
// receives per instrument family and setting, the samples that arrive, block
// transfers against a scripted peer (short, long, broken, stalled, cancelled
// answers), the panel limits, catalog listings and orvex-cli end to end.
#include "instrument/acquire.h"
#include "instrument/block.h"
#include "instrument/devlimits.h"
#include "instrument/devtable.h"
#include "instrument/hvvisa.h"
#include "instrument/mmem.h"
#include "instrument/transfer.h"
#include "formats/progress.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <arpa/inet.h>
#include <cmath>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

const double kSqrt005 = std::sqrt(0.05);

// A simulator process on free loopback ports, ended with its input.
struct Sim : QProcess {
    QString log, rsrc;
    Sim(const QStringList& args, const QString& logPath) : log(logPath)
    {
        start(QStringLiteral(ORVEX_SIM), args + QStringList{"--log", log, "--stdin-exit"});
        QByteArray out;
        while (!out.contains("ready\n") && waitForReadyRead(10000))
            out += readAllStandardOutput();
        const QString port = QString(out).section("socket 127.0.0.1:", 1).section('\n', 0, 0);
        rsrc = !out.contains("ready\n") ? "" : port.isEmpty() ? "TCPIP::127.0.0.1::INSTR" : "TCPIP::127.0.0.1::" + port + "::SOCKET";
    }
    ~Sim() override { closeWriteChannel(), waitForFinished(10000); }
    QStringList messages() const
    {
        QFile f(log);
        return f.open(QIODevice::ReadOnly) ? QString(f.readAll()).split('\n', Qt::SkipEmptyParts) : QStringList();
    }
};

// A raw SCPI peer on 127.0.0.1 for one connection: "1" to every query, the
// scripted bytes to a data query. It may close after dropAfter bytes of them,
// or, when stall is set, send nothing more until the client goes away.
struct Peer {
    QByteArray data;
    int dropAfter = -1;
    bool stall = false;
    int fd = socket(AF_INET, SOCK_STREAM, 0), port = 0;
    std::thread th;

    bool listen()
    {
        sockaddr_in sa{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
        socklen_t len = sizeof sa;
        if (bind(fd, reinterpret_cast<sockaddr*>(&sa), len) || ::listen(fd, 1) || getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len))
            return false;
        port = ntohs(sa.sin_port);
        th = std::thread([this] { serve(accept(fd, nullptr, nullptr)); });
        return true;
    }
    void serve(int c)
    {
        QByteArray in;
        char b[4096];
        for (ssize_t n; (n = recv(c, b, sizeof b, 0)) > 0;)
            for (in.append(b, int(n)); in.contains('\n'); in.remove(0, in.indexOf('\n') + 1)) {
                const QByteArray line = in.left(in.indexOf('\n'));
                const bool data = line.contains("DATA?");
                const QByteArray out = data ? (dropAfter >= 0 ? this->data.left(dropAfter) : this->data) : QByteArray(line.contains('?') ? "1\n" : "");
                send(c, out.constData(), size_t(out.size()), MSG_NOSIGNAL);
                if (data && dropAfter >= 0 && !stall)
                    shutdown(c, SHUT_RDWR);
            }
        close(c);
    }
    QString rsrc() const { return QStringLiteral("TCPIP::127.0.0.1::%1::SOCKET").arg(port); }
    ~Peer() { th.joinable() ? th.join() : void(), close(fd); }
};

// Records the labels shown and raises EscFlg at the given step.
struct Sink : Progress {
    QStringList labels;
    int steps = 0, cancelAt = -1;
    void begin(const QString& l, uint64_t) override { labels << l; }
    void step(uint64_t) override { EscFlg = EscFlg || ++steps == cancelAt; }
    void end() override {}
};

// Little-endian float32 values, as the test host stores them.
QByteArray floats(const std::vector<float>& v) { return QByteArray(reinterpret_cast<const char*>(v.data()), int(4 * v.size())); }

QByteArray block(const QByteArray& payload, bool paren = false)
{
    const QByteArray len = QByteArray::number(payload.size());
    return (paren ? "#(" + len + ")" : "#" + QByteArray::number(len.size()) + len) + payload + "\n";
}

// Messages as the log shows them: each ends in an escaped line feed.
QStringList msgs(const char* joined) { return QString(joined).replace('|', "\\n|").split('|', Qt::SkipEmptyParts); }

int typeOf(const char* name) { return int(std::find_if(ag, ag + AG_COUNT, [&](const DevStr& r) { return r.Name == name; }) - ag); }

void setFlags(int m)
{
    for (bool* f : {&GinkgoOptA, &GinkgoOptC, &GinkgoOptD, &GinkgoOptE, &PineOptA, &PineOptB})
        *f = m & 1, m >>= 1;
}

#define BEGIN "*CLS;*OPC?|SYST:ERR:CLE:ALL;*OPC?|"
#define NSEL "INST:NSEL?;*WAI|"
#define LEVEL "UNIT:POW DBM;*OPC?|DISP:TRAC:Y:RLEV?;*WAI|FREQ:CENT?;*WAI|INP:ATT?;*WAI|"
#define IQON "TRAC:IQ ON;*OPC?|"
#define IQP "TRAC:IQ:DATA:FORM IQP;*OPC?|"
#define RTER "SYST:COMM:GPIB:RTER EOI;*OPC?|"
#define SETUP(x) "SYST:ERR?|TRAC:IQ:SET NORM," x ";*OPC?|SYST:ERR?|"
#define END "FORM REAL, 32;*OPC?|TRAC:IQ:DATA?|TRAC:IQ OFF|"
#define SCOPE(ch, t, m) "*CLS;*OPC?|SYST:ERR:ALL?|IQ:STAT ON;*OPC?|" ch ":IQ:INPT " t ";*OPC?|" ch ":IQ:INPM " m ";*OPC?|IQ:RBW 0.8;*OPC?|IQ:SRAT 1e+06Hz;*OPC?|IQ:RLEN 500;*OPC?|"

struct SeqCase {
    const char* type;
    const char* before;     // sent to the instrument first
    int flags;              // Ginkgo A, C, D, E, Pine A, B
    void (*set)(AnaStr&);
    const char* sent;
    double amp;             // expected |I[0]|; 0: not checked
};

const SeqCase kSeq[] = {
    {"Birch", "", 0, [](AnaStr& a) { a.Raw = false; a.SRateIdx = 11; a.RbwIdx = 3; a.Count = 1000; },
     BEGIN LEVEL IQON IQP RTER SETUP("10000000Hz,32000000Hz,IMM,POS,0,1000") END, 1.0},
    {"Birch", "", 0, [](AnaStr& a) { a.Count = 1000; a.TrgModIdx = 2; a.PreTrg = -5; },
     BEGIN LEVEL IQON IQP RTER SETUP("300000Hz,15625Hz,IFP,POS,-5,1000") END, kSqrt005},
    {"Alder", "", 0, [](AnaStr& a) { a.Raw = false; a.SRate = 1e6; a.RecLen = 0.1; a.TrgOfs = 0.25; },
     BEGIN LEVEL IQON RTER "TRAC:IQ:SET RAW,8MHz,1000000Hz,IMM,POS,0.25ms,0.1ms;*OPC?|" END, 1.0},
    {"Kapok", "", 0, [](AnaStr& a) { a.Raw = false; a.Count = 700; },
     BEGIN NSEL LEVEL "BWID?|" IQON RTER SETUP("1000000Hz,65830000Hz,IMM,POS,0,700") END, 1.0},
    {"Kapok", "INST:NSEL 2", 0, [](AnaStr& a) { a.Count = 700; },
     "INST:NSEL 2|" BEGIN NSEL "INST:NSEL 1;*OPC?|" LEVEL IQON RTER SETUP("300000Hz,65830000Hz,IMM,POS,0,700") END, 0},
    {"Ginkgo", "", 0b1111, [](AnaStr& a) { a.IQInp = 1; a.Bal = a.HighImp = true; a.AnaRange = 0.5; a.Count = 600; },
     BEGIN NSEL "INP:SEL AIQ;*OPC?|" IQON "INP:IQ:BAL ON;*OPC?|INP:IQ:IMP HIGH;*OPC?|IQ:DITH OFF;*OPC?|IQ:LPAS OFF;*OPC?|"
     ":VOLT:IQ:RANG 0.5V;*OPC?|:VOLT:IQ:RANG:OFFS 0dB;*OPC?|" IQP RTER SETUP("300000Hz,100000000Hz,IMM,POS,0,600") END, 0},
    {"Ginkgo", "", 0b1111, [](AnaStr& a) { a.IQInp = 2; a.Raw = false; a.DigRange = 0.5; a.DigSRate = 100; a.Count = 600; },
     BEGIN NSEL "INP:SEL DIQ;*OPC?|" IQON "INP:DIQ:RANG 0.5;*OPC?|INP:DIQ:SRAT 100MHz;*OPC?|" IQP RTER
     SETUP("300000Hz,100000000Hz,IMM,POS,0,600") END, 0},
    // Pine's digital input follows its own option, whatever Ginkgo's say.
    {"Pine", "", 0b010000, [](AnaStr& a) { a.IQInp = 2; a.Count = 600; },
     BEGIN NSEL IQON "INST IQ;*OPC?|INP:SEL DIQ;*OPC?|INP:DIQ:RANG 2;*OPC?|INP:DIQ:SRAT 10MHz;*OPC?|" IQP RTER
     SETUP("10000000Hz,45000000Hz,IMM,POS,0,600") END, 0},
    {"Spruce", "", 0, [](AnaStr& a) { a.Raw = false; a.Rbw = 4e9; a.SRate = 3e9; a.Count = 600; },
     BEGIN NSEL LEVEL "INP:SEL RF;*OPC?|" IQON IQP RTER SETUP("4000000000Hz,3000000000Hz,IMM,POS,0,600") END, 0},
    {"Zelkova", "", 0, [](AnaStr& a) { a.OscCh = 2; a.InpTyp = 0; a.SRate = 1e6; a.OscRecLen = 500; a.CFreq = 2e9; },
     SCOPE("CHAN2", "REAL", "BAS") "CHAN2:IQ:CFR 1e+09;*OPC?|CHAN2:IQ:SBRF NORM;*OPC?|RUNS;*OPC?|CHAN2:IQ:DATA?|", 0},
    {"Zelkova", "", 0, [](AnaStr& a) { a.OscCh = 1; a.InpTyp = 1; a.InpMod = 0; a.SRate = 1e6; a.OscRecLen = 500; },
     SCOPE("CHAN1", "COMPLEX", "BAS") "RUNS;*OPC?|CHAN1:IQ:DATA?|", 0},
    {"Zelkova", "", 0, [](AnaStr& a) { a.OscCh = 1; a.InpTyp = 1; a.InpMod = 1; a.SbIf = 3; a.SRate = 1e6; a.OscRecLen = 500; a.CFreq = 1.5e6; },
     SCOPE("CHAN1", "COMPLEX", "RFIF") "CHAN1:IQ:CFR 1.5e+06;*OPC?|CHAN1:IQ:SBIF ILOW;*OPC?|RUNS;*OPC?|CHAN1:IQ:DATA?|", 0},
};

} // namespace

class AcqTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    unsigned rm = 0;
    Sink sink;

    unsigned open(const QString& rsrc)
    {
        unsigned vi = 0;
        return hvOpen(rm, rsrc, VI_NO_LOCK, 5000, &vi) == VI_SUCCESS ? vi : 0;
    }
    // ReadIQ on a Birch (pairs) or Kapok (blocks) session to a peer.
    int readFromPeer(Peer& peer, const char* type, uint64_t want, IQDatStr* d)
    {
        if (!peer.listen())
            return 1;
        AnaStr a;
        a.DevTyp = typeOf(type);
        a.SRate = 1e6;
        a.Vi = open(peer.rsrc());
        d->N = want;
        const int st = ReadIQ(&a, d, 3, kSqrt005);
        hvClose(a.Vi);
        return st;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        qputenv("TMPDIR", dir.path().toLocal8Bit());
        SetProgress(&sink);
        QVERIFY(hvVisaDll_InitFrom({QStringLiteral(ORVEX_VISA_LIB)}));
        QCOMPARE(hvOpenDefaultRM(&rm), VI_SUCCESS);
    }
    void init() { sink = Sink(); }

    void sequencesSim()
    {
        int row = 0;
        for (const SeqCase& c : kSeq) {
            const QString what = QStringLiteral("row %1 (%2)").arg(row++).arg(c.type);
            Sim sim({"--type", c.type, "--socket", "0"}, dir.filePath(what));
            AnaStr a;
            a.DevTyp = typeOf(c.type);
            a.Vi = open(sim.rsrc);
            QVERIFY2(a.Vi, qPrintable(what));
            if (*c.before)
                hvPrintf(a.Vi, QString(c.before) + "\n");
            setFlags(c.flags);
            c.set(a);
            IQDatStr d;
            DevApply(&a, &d);
            const uint64_t want = d.N;
            sink = Sink();
            QVERIFY2(TracIQ(&a, &d) == 0, qPrintable(what));
            // Answered once the instrument has taken every message before it.
            QString sync;
            hvQueryf_s(a.Vi, "*OPC?\n", &sync);
            hvClose(a.Vi);
            QVERIFY2(sim.messages() == msgs(c.sent) + QStringList("*OPC?\\n"), qPrintable(what + "\n" + sim.messages().join(' ')));
            QVERIFY2(d.N == want && d.I && d.Q, qPrintable(what));
            // The test tone turns once in 128 samples.
            if (c.amp > 0)
                for (uint64_t k : {0, 32, 64})
                    QVERIFY2(std::abs(d.I[k] - c.amp * std::cos(M_PI * k / 64)) < 1e-5
                                 && std::abs(d.Q[k] - c.amp * std::sin(M_PI * k / 64)) < 1e-5,
                             qPrintable(what));
            const bool blocks = ag[a.DevTyp].does(kAcqIqBlocks), scope = ag[a.DevTyp].Tr.Family == DevFamily::Scope;
            QCOMPARE(sink.labels.join(' '), scope ? "" : blocks ? "Reading I values... Reading Q values..." : "Reading IQ values...");
            FreeArr(&d);
        }
    }

    // Seven recordings in a row: each is fetched whole, loaded and deleted.
    void handheldSim()
    {
        Sim sim({"--type", "Yew", "--socket", "0"}, dir.filePath("yew"));
        AnaStr a;
        a.DevTyp = typeOf("Yew");
        a.Vi = open(sim.rsrc);
        a.Count = 64000;   // 256084 bytes on the card
        for (int k = 1; k <= 7; ++k) {
            IQDatStr d;
            DevApply(&a, &d);
            QCOMPARE(TracIQ(&a, &d), 0);
            QCOMPARE(d.N, uint64_t(64000));
            QCOMPARE(a.SRate, 640000.0);
            QVERIFY(d.I[32] == 0 && d.Q[32] > 0 && d.I[63999] > 0);
            FreeArr(&d);
        }
        hvClose(a.Vi);
        QCOMPARE(sim.messages().mid(sim.messages().size() - 10),
                 msgs("BAND 150Hz;*OPC?|DEM IQ;*OPC?|TRAC:REC:SOUR IQ;*OPC?|TRAC:REC:STOR FILE;*OPC?|"
                      "TRAC:REC:STAR;*OPC?|TRAC:REC:STOP;*OPC?|MMEM:CDIR '\\\\Storage Card\\\\Yew';*OPC?|MMEM:CAT?|"
                      "MMEM:DATA? 'RecIQ0007.riq'|MMEM:DEL RecIQ0007.riq;*OPC?|"));
    }

    void transfer()
    {
        const uint64_t c = 3000000;   // pairs per read
        // What, type, reply, samples asked, samples kept, status, first pair as sent.
        const std::tuple<const char*, const char*, QByteArray, uint64_t, uint64_t, int, float, float> cases[] = {
            {"one pair", "Birch", block(floats({0.5f, -1})), 5, 1, 0, 0.5f, -1},
            {"indefinite", "Birch", "#0" + floats({1, 2}) + "\n", 5, 0, 0, 0, 0},
            {"long form", "Birch", block(floats({1, 2, 3, 4}), true), 2, 2, 0, 1, 2},
            {"terminator only dropped", "Birch", "#212" + floats({1, 2, 3}) + "\n", 5, 1, 0, 1, 2},
            {"header above request", "Birch", block(floats({1, 2, 3, 4, 5, 6})), 2, 2, 0, 1, 2},
            {"header below request", "Birch", block(floats({1, 2, 3, 4})), 5, 2, 0, 1, 2},
            {"ends in header", "Birch", "#512\n", 5, 0, kNoBlock, 0, 0},
            {"no block", "Birch", "ERR\n", 5, 0, kNoBlock, 0, 0},
            {"blocks", "Kapok", block(floats({1, 2, 3, 4})), 2, 2, 0, 1, 3},
            {"blocks above request", "Kapok", block(floats({1, 2, 3, 4, 5, 6})), 2, 2, 0, 1, 4},
            {"chunk - 1", "Birch", block(QByteArray(int(8 * (c - 1)), '\0')), c + 5, c - 1, 0, 0, 0},
            {"chunk", "Birch", block(QByteArray(int(8 * c), '\0')), c + 5, c, 0, 0, 0},
            {"chunk + 1", "Birch", block(QByteArray(int(8 * (c + 1)), '\0')), c + 5, c + 1, 0, 0, 0},
        };
        for (const auto& [what, type, reply, want, n, st, i0, q0] : cases) {
            Peer peer;
            peer.data = reply;
            IQDatStr d;
            QVERIFY2(readFromPeer(peer, type, want, &d) == st && d.N == n && (st == 0) == (d.I != nullptr), what);
            // Divided by √0.05 in double, then rounded to float.
            QVERIFY2(!n || (d.I[0] == float(i0 / kSqrt005) && d.Q[0] == float(q0 / kSqrt005)), what);
            FreeArr(&d);
        }
    }

    // Cancel, a dropped connection, a stall (60 s, the shortest time-out):
    // an error status and no samples.
    void transferFailures()
    {
        const QByteArray big = block(QByteArray(8 * 3000002, '\0'));
        const std::tuple<const char*, int, bool, int, ViStatus> cases[] = {{"cancel in the second block", -1, false, 2, ST_CANCEL},
                                                                            {"dropped connection", 24000012, false, -1, VI_ERROR_CONN_LOST},
                                                                            {"stall", 400, true, -1, VI_ERROR_TMO}};
        for (const auto& [what, dropAfter, stall, cancelAt, want] : cases) {
            Peer peer;
            peer.data = big;
            peer.dropAfter = dropAfter;
            peer.stall = stall;
            sink.cancelAt = cancelAt;
            IQDatStr d;
            QElapsedTimer t;
            t.start();
            const int st = readFromPeer(peer, "Birch", 3000002, &d);
            QVERIFY2(st == want || (want == VI_ERROR_CONN_LOST && st < -1), what);
            QVERIFY2(d.N == 0 && !d.I && !d.Q && !EscFlg && !BrkFlg, what);
            QVERIFY2(!stall || (t.elapsed() >= 59900 && t.elapsed() < 66000), qPrintable(QString::number(t.elapsed())));
        }
    }

    // Against a peer that answers "1" to every query: a catalog without a
    // recording, an oscilloscope block of 2001 values, one cut short (a
    // failed trace that leaves no "Trace.tmp" behind).
    void peerSequences()
    {
        std::vector<float> v(2001);
        for (size_t k = 0; k < v.size(); ++k)
            v[k] = float(k);
        for (const auto& [type, st, n, dropAfter] : {std::tuple{"Yew", kNoRecording, 0, -1}, std::tuple{"Zelkova", 0, 1000, -1},
                                                     std::tuple{"Zelkova", kNoBlock, 0, 5000}}) {
            Peer peer;
            peer.data = block(floats(v));
            peer.dropAfter = dropAfter;
            QVERIFY(peer.listen());
            AnaStr a;
            a.DevTyp = typeOf(type);
            a.Vi = open(peer.rsrc());
            IQDatStr d;
            DevApply(&a, &d);
            QCOMPARE(TracIQ(&a, &d), st);
            hvClose(a.Vi);
            QVERIFY(n == 0 || (d.N == 1000 && d.I[0] == 0 && d.Q[0] == 1 && d.I[999] == 1998 && d.Q[999] == 1999));
            FreeArr(&d);
        }
        // Temporary folders go to this test's own folder (TMPDIR).
        QCOMPARE(QDir(dir.path()).entryList(QDir::Dirs | QDir::NoDotAndDotDot), QStringList());
    }

    void limits()
    {
        using Set = void (*)(AnaStr&);
        using Check = bool (*)(const AnaStr&, const IQDatStr&);
        const std::tuple<const char*, int, Set, Check> cases[] = {
            {"Birch", 0, [](AnaStr& a) { a.PreTrg = -200000; a.Count = 600000; a.RbwIdx = 9; },
             [](const AnaStr& a, const IQDatStr& d) { return a.PreTrg == -130559 && d.N == 130560 && a.Rbw == 3e5; }},
            {"Alder", 0, [](AnaStr& a) { a.PreTrg = 5; a.SRate = 32e6; a.RecLen = 20; },
             [](const AnaStr& a, const IQDatStr& d) { return a.PreTrg == 0 && d.N == 524200 && a.Count == 524200 && a.RecLen == 16.38125; }},
            {"Ginkgo", 0b1000, [](AnaStr& a) { a.SRate = 1e8; a.IQInp = 2; a.Count = 2e9; },
             [](const AnaStr& a, const IQDatStr& d) { return a.SRate == 816e5 && a.IQInp == 0 && d.N == 1409285632; }},
            {"Ginkgo", 0b1111, [](AnaStr& a) { a.SRate = 2e8; a.Count = 6e8; a.IQInp = 1; a.HighImp = true; a.AnaRange = 2; },
             [](const AnaStr& a, const IQDatStr& d) { return d.N == 503315968 && a.IQInp == 1 && a.AnaRange == 1.78; }},
            {"Pine", 0b001111, [](AnaStr& a) { a.SRate = 1e8; a.IQInp = 2; a.DigRange = 0; },
             [](const AnaStr& a, const IQDatStr&) { return a.SRate == 45e6 && a.IQInp == 0 && a.DigRange > 0; }},
            {"Pine", 0b010000, [](AnaStr& a) { a.IQInp = 2; },
             [](const AnaStr& a, const IQDatStr&) { return a.IQInp == 2; }},
            {"Tamarack", 0, [](AnaStr& a) { a.IQInp = 3; a.TrgModIdx = 4; },
             [](const AnaStr& a, const IQDatStr&) { return a.IQInp == 0 && a.TrgMod == "IFP"; }},
            {"Zelkova", 0, [](AnaStr& a) { a.OscRecLen = 0; a.RelBw = 2; a.SRate = 1e6; },
             [](const AnaStr& a, const IQDatStr& d) { return d.N == 1 && a.OscBw == 1e6; }},
        };
        for (const auto& [type, flags, set, check] : cases) {
            setFlags(flags);
            AnaStr a;
            a.DevTyp = typeOf(type);
            set(a);
            IQDatStr d;
            DevApply(&a, &d);
            QVERIFY2(check(a, d) && d.SrcTab == 1, type);
        }
    }

    void catalog()
    {
        const std::pair<const char*, const char*> cases[] = {
            {" 1024,2048 \n", ""},
            {"", ""},
            {"1,2,\"a.riq,BIN,10\",\" sub ,DIR,0\",\"b.txt,ASCII,7\"", "sub:-1 a.riq:10 b.txt:7"},
            {"1,2,\".,DIR,0\",\"..,DIR,0\",\"x,BIN,big\",\"y,BIN\"", "..:-1 x:0"},
        };
        for (const auto& [reply, want] : cases) {
            QStringList got;
            for (const MMEMFile& e : ParseCatalog(reply))
                got << e.Name + ':' + QString::number(e.Size);
            QCOMPARE(got.join(' '), QString(want));
        }
    }

    void cliSim()
    {
        Sim birch({"--type", "Birch", "--socket", "0"}, dir.filePath("cli"));
        Sim alder({"--type", "Alder", "--socket", "0"}, dir.filePath("cli-alder"));
        Sim yew({"--type", "Yew", "--socket", "0"}, dir.filePath("cli-yew"));
        const QString out = dir.filePath("out.wv");
        const std::tuple<QStringList, int, const char*> cases[] = {
            {{"trace", "--device", "birch", "--resource", birch.rsrc, "--srate", "32e6", "--rbw", "10M", "--count", "1000", "--no-raw", "--to", "wv", out}, 0, ""},
            {{"info", "--from", "wv", out}, 0, "samples: 1000\nclock: 32000000\n"},
            {{"trace", "--device", "1", "--resource", birch.rsrc, "--count", "10", "--json"}, 0, "\"samples\":10"},
            {{"dir", "--device", "Yew", "--resource", yew.rsrc, "\\Storage Card"}, 0, "..\t<DIR>\nYew\t<DIR>\n"},
            {{"trace", "--device", "Alder", "--resource", alder.rsrc}, 1, "No Alder-OPT-B option installed."},
            {{"trace", "--device", "Birch", "--resource", "TCPIP::127.0.0.1::1::SOCKET"}, 1, "Initialization error."},
            {{"trace", "--device", "Birch", "--resource", birch.rsrc, "--srate", "3M"}, 2, "--srate takes one of"},
            {{"trace", "--device", "Birch", "--resource", birch.rsrc, "--input", "DIQ"}, 2, "Birch has no DIQ input"},
        };
        for (const auto& [args, rc, want] : cases) {
            QProcess p;
            p.start(QStringLiteral(ORVEX_CLI), args);
            QVERIFY(p.waitForFinished(60000));
            const QString said = p.readAllStandardOutput() + p.readAllStandardError();
            QVERIFY2(p.exitCode() == rc && said.contains(want), qPrintable(args.join(' ') + "\n" + said));
        }
    }

    // Over VXI-11, found through the simulator's portmapper on port 111.
    void cliVxi11Sim()
    {
        if (!QTcpServer().listen(QHostAddress::LocalHost, 111))
            QSKIP("127.0.0.1:111 cannot be bound here (run under tests/netns.sh)");
        Sim sim({"--type", "Birch", "--vxi11", "0", "--portmapper"}, dir.filePath("vxi"));
        QVERIFY(!sim.rsrc.isEmpty());
        QProcess p;
        p.start(QStringLiteral(ORVEX_CLI), {"trace", "--device", "Birch", "--resource", sim.rsrc, "--count", "1000"});
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitCode(), 0);
        QVERIFY(p.readAllStandardOutput().startsWith("samples: 1000\n"));
        QVERIFY(sim.messages().contains("TRAC:IQ:SET NORM,300000Hz,15625Hz,IMM,POS,0,1000;*OPC?\\n"));
    }
};

QTEST_GUILESS_MAIN(AcqTest)
#include "tst_acq.moc"
