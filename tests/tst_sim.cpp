// The instrument simulator as the other tests see it over raw SCPI: reply
// joining, the message log, the error queue, the I/Q data of every
// instrument type against the documented test signal, fault switches and
// hostile input.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <cstring>
#include <memory>

namespace {

constexpr int kWait = 10000;

// One simulator process serving raw SCPI on a free port, with a log.
class Sim {
public:
    explicit Sim(const QStringList& args)
    {
        logPath = dir.filePath("log.txt");
        proc.start(ORVEX_SIM, QStringList{"--socket", "0", "--stdin-exit", "--log", logPath} + args);
        QByteArray out;
        while (!out.contains("ready\n") && proc.waitForReadyRead(kWait))
            out += proc.readAllStandardOutput();
        QRegularExpressionMatch m = QRegularExpression("socket 127.0.0.1:(\\d+)").match(QString(out));
        port = m.hasMatch() ? quint16(m.captured(1).toUInt()) : 0;
    }
    ~Sim()
    {
        proc.closeWriteChannel();
        if (!proc.waitForFinished(kWait))
            proc.kill();
    }
    std::unique_ptr<QTcpSocket> connect()
    {
        auto s = std::make_unique<QTcpSocket>();
        s->connectToHost("127.0.0.1", port);
        s->waitForConnected(kWait);
        return s;
    }
    QStringList log()
    {
        QFile f(logPath);
        f.open(QIODevice::ReadOnly);
        return QString::fromLatin1(f.readAll()).split('\n', Qt::SkipEmptyParts);
    }
    QTemporaryDir dir;
    QString logPath;
    QProcess proc;
    quint16 port = 0;
};

// Exactly n bytes, or what arrived before the peer closed or went silent.
QByteArray readBytes(QTcpSocket& s, qint64 n)
{
    QByteArray b;
    while (b.size() < n) {
        if (s.bytesAvailable() == 0 && !s.waitForReadyRead(kWait))
            break;
        b += s.read(n - b.size());
    }
    return b;
}

QByteArray readLine(QTcpSocket& s)
{
    QByteArray b;
    while (!b.endsWith('\n')) {
        if (s.bytesAvailable() == 0 && !s.waitForReadyRead(kWait))
            break;
        b += s.read(1);
    }
    return b;
}

// A definite-length block: its data, with the terminating line feed checked.
QByteArray readBlock(QTcpSocket& s)
{
    QByteArray head = readBytes(s, 2);
    if (head.size() < 2 || head[0] != '#' || head[1] < '1' || head[1] > '9')
        return "bad header " + head;
    qint64 n = readBytes(s, head[1] - '0').toLongLong();
    QByteArray data = readBytes(s, n);
    return readBytes(s, 1) == "\n" ? data : "no line feed";
}

QByteArray ask(QTcpSocket& s, const QByteArray& message)
{
    s.write(message);
    return readLine(s);
}

uint32_t le32(const char* p)
{
    return uint32_t(uint8_t(p[0])) | uint32_t(uint8_t(p[1])) << 8 | uint32_t(uint8_t(p[2])) << 16 |
           uint32_t(uint8_t(p[3])) << 24;
}

float le32f(const char* p)
{
    uint32_t u = le32(p);
    float f;
    std::memcpy(&f, &u, 4);
    return f;
}

int le16(const char* p) { return int16_t(uint16_t(uint8_t(p[0]) | uint8_t(p[1]) << 8)); }

// Index of the first sample that differs from the test tone, or -1.
// 'B': all I then all Q (float32), 'P': I,Q pairs (float32), 'R': int16 pairs.
long firstWrong(const QByteArray& d, char layout, double a, long n)
{
    for (long k = 0; k < n; ++k) {
        double i = a * std::cos(2 * M_PI * k / 128), q = a * std::sin(2 * M_PI * k / 128);
        double gi, gq, tol = 1e-6 * a;
        if (layout == 'B') {
            gi = le32f(d.constData() + 4 * k);
            gq = le32f(d.constData() + 4 * (n + k));
        } else if (layout == 'P') {
            gi = le32f(d.constData() + 8 * k);
            gq = le32f(d.constData() + 8 * k + 4);
        } else {
            gi = le16(d.constData() + 4 * k);
            gq = le16(d.constData() + 4 * k + 2);
            tol = 0.5;
        }
        if (std::fabs(gi - i) > tol || std::fabs(gq - q) > tol)
            return k;
    }
    return -1;
}

const double kRms = std::sqrt(0.05);

} // namespace

class TestSim : public QObject {
    Q_OBJECT
private slots:
    void replies_data();
    void replies();
    void logLines();
    void blocks_data();
    void blocks();
    void acquisition_data();
    void acquisition();
    void recording();
    void faults_data();
    void faults();
    void hostile_data();
    void hostile();
};

void TestSim::replies_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("identification") << "1" << QByteArray("*IDN?\n") << QByteArray("Halvard,Birch,100001/001,1.0\n");
    QTest::newRow("joined replies") << "Kapok" << QByteArray("*IDN?;*OPC?;BWID?\n")
                                    << QByteArray("Halvard,Kapok,100001/001,1.0;1;1000000\n");
    QTest::newRow("commands without reply") << "1" << QByteArray("*CLS\n&GTL\n*OPC?\n") << QByteArray("1\n");
    QTest::newRow("error queue in order") << "1" << QByteArray("FOO\nTRAC:IQ:SET NORM,1\nSYST:ERR?;:syst:error:next?;SYST:ERR?\n")
                                          << QByteArray("-113,\"Undefined header\";-109,\"Missing parameter\";0,\"No error\"\n");
    QTest::newRow("error queue cleared") << "1" << QByteArray("FOO\n*CLS;SYST:ERR:ALL?\n") << QByteArray("0,\"No error\"\n");
    QTest::newRow("all errors") << "1" << QByteArray("FOO;BAR\nSYST:ERR:ALL?\n")
                                << QByteArray("-113,\"Undefined header\",-113,\"Undefined header\"\n");
    QTest::newRow("queue overflow") << "1" << QByteArray("X;X;X;X;X;X;X;X;X;X;X;X\nSYST:ERR:ALL?\n")
                                    << QByteArray("-113,\"Undefined header\",").repeated(9) + "-350,\"Queue overflow\"\n";
    QTest::newRow("command of another type") << "Birch" << QByteArray("INST:NSEL?\nSYST:ERR?\n")
                                             << QByteArray("-113,\"Undefined header\"\n");
    QTest::newRow("channel of a channel type") << "Ginkgo" << QByteArray("INST:NSEL 2;*OPC?;INSTRUMENT:NSELECT?\n")
                                               << QByteArray("1;2\n");
    QTest::newRow("options of Ginkgo") << "6" << QByteArray("*OPT?\n") << QByteArray("OPT-A,OPT-C,OPT-D,OPT-E\n");
    QTest::newRow("options of Pine") << "pine" << QByteArray("*OPT?\n") << QByteArray("OPT-A,OPT-B\n");
    QTest::newRow("levels") << "Cedar" << QByteArray("INST SAN;UNIT:POW DBM;*OPC?;DISP:TRAC:Y:RLEV?;*WAI;FREQ:CENT?;INP:ATT?\n")
                            << QByteArray("1;-20;1000000000;10\n");
    QTest::newRow("set-up read back") << "Birch"
                                      << QByteArray("TRAC:IQ:SET NORM,10000000Hz,32000000Hz,IFP,NEG,-5,1000;TRAC:IQ:SET?\n")
                                      << QByteArray("NORM,10000000,32000000,IFP,NEG,-5,1000\n");
    QTest::newRow("pretrigger beyond the type") << "Birch"
                                                << QByteArray("TRAC:IQ:SET NORM,1MHz,1MHz,IMM,POS,-200000,10\nSYST:ERR?\n")
                                                << QByteArray("-222,\"Data out of range\"\n");
    QTest::newRow("slope the type lacks") << "Cedar" << QByteArray("TRAC:IQ:SET NORM,1MHz,1MHz,IMM,NEG,0,10\nSYST:ERR?\n")
                                          << QByteArray("-224,\"Illegal parameter value\"\n");
    QTest::newRow("data without trace") << "Birch" << QByteArray("TRAC:IQ:DATA?\nSYST:ERR?\n")
                                        << QByteArray("-221,\"Settings conflict\"\n");
    QTest::newRow("text block") << "1" << QByteArray("SIM:TEXT? 30;*OPC?\n") << QByteArray("ABCDEFGHIJKLMNOPQRSTUVWXYZABCD;1\n");
    QTest::newRow("empty text") << "1" << QByteArray("SIM:TEXT? 0\n") << QByteArray("\n");
    QTest::newRow("indefinite block") << "1" << QByteArray("SIM:INDEF? 3\n") << QByteArray("#0 !\"\n");
    QTest::newRow("block and more") << "1" << QByteArray("SIM:BLOCK? 3;*OPC?\n") << QByteArray("#13\0\1\2;1\n", 9);
    QTest::newRow("carriage return") << "1" << QByteArray("*OPC?\r\n") << QByteArray("1\n");
}

void TestSim::replies()
{
    QFETCH(QString, type);
    QFETCH(QByteArray, sent);
    QFETCH(QByteArray, expected);
    Sim sim({"--type", type});
    QVERIFY(sim.port);
    auto s = sim.connect();
    s->write(sent);
    QCOMPARE(readBytes(*s, expected.size()), expected);
}

void TestSim::logLines()
{
    Sim sim({});
    auto s = sim.connect();
    // One message per line, escaped; a line feed inside a block does not
    // end the message.
    QCOMPARE(ask(*s, QByteArray("SIM:TEXT? 1;X #13\n\\\xff;*OPC?\n")), QByteArray("A;1\n"));
    QCOMPARE(ask(*s, "*IDN?\t\r\n").size(), 29);
    auto other = sim.connect();
    QCOMPARE(ask(*other, "*OPC?\n"), QByteArray("1\n"));
    QCOMPARE(sim.log(), QStringList({"SIM:TEXT? 1;X #13\\n\\\\\\xFF;*OPC?\\n", "*IDN?\\t\\r\\n", "*OPC?\\n"}));
}

// Test blocks are generated from a repeated period in runs of up to 1 MiB;
// sizes straddle the period and the run.
void TestSim::blocks_data()
{
    QTest::addColumn<int>("size");
    for (int n : {0, 1, 250, 251, 252, (1 << 20) - 1, 1 << 20, (1 << 20) + 1, 3 * (1 << 20) + 5})
        QTest::addRow("%d", n) << n;
}

void TestSim::blocks()
{
    QFETCH(int, size);
    Sim sim({});
    auto s = sim.connect();
    s->write("SIM:BLOCK? " + QByteArray::number(size) + "\n");
    QByteArray data = readBlock(*s);
    QCOMPARE(data.size(), size);
    int wrong = 0;
    while (wrong < size && uint8_t(data[wrong]) == wrong % 251)
        ++wrong;
    QCOMPARE(wrong, size);
}

// Every analyzer runs the acquisition's set-up of its family and delivers
// the tone in its layout; sizes straddle the tone's period.
void TestSim::acquisition_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QByteArray>("setup"); // type-specific commands, one per line
    QTest::addColumn<char>("layout");
    QTest::addColumn<double>("amplitude");
    const QByteArray iqp = "TRAC:IQ:DATA:FORM IQP;*OPC?\n";
    const QByteArray nsel = "INST:NSEL?;*WAI\nINST:NSEL 1;*OPC?\n";
    QTest::newRow("Alder") << "Alder" << QByteArray() << 'B' << kRms * 1000;
    QTest::newRow("Birch") << "Birch" << iqp << 'P' << kRms;
    QTest::newRow("Birch without IQP") << "Birch" << QByteArray() << 'B' << kRms;
    QTest::newRow("Cedar") << "Cedar" << QByteArray() << 'P' << kRms;
    QTest::newRow("Dogwood") << "Dogwood" << iqp << 'P' << kRms;
    QTest::newRow("Hazel") << "Hazel" << QByteArray() << 'P' << kRms;
    QTest::newRow("Juniper") << "Juniper" << QByteArray() << 'P' << kRms;
    QTest::newRow("Ginkgo") << "Ginkgo"
                            << nsel + "INP:SEL AIQ;*OPC?\nINP:IQ:BAL ON;*OPC?\nINP:IQ:IMP HIGH;*OPC?\nIQ:DITH OFF;*OPC?\n"
                                      "IQ:LPAS ON;*OPC?\n:VOLT:IQ:RANG 1V;*OPC?\n:VOLT:IQ:RANG:OFFS 0dB;*OPC?\n" + iqp
                            << 'P' << kRms;
    QTest::newRow("Kapok") << "Kapok" << nsel + "BWID?\n" << 'B' << 1 / 5.3;
    QTest::newRow("Larch") << "Larch" << "INP:DIQ:RANG 0.5;*OPC?\nINP:DIQ:SRAT 100MHz;*OPC?\n" + iqp << 'P' << kRms;
    QTest::newRow("Maple") << "Maple" << iqp << 'P' << kRms;
    QTest::newRow("Oak") << "Oak" << iqp << 'P' << kRms;
    QTest::newRow("Pine") << "Pine" << nsel + "INST IQ;*OPC?\nINP:SEL DIQ;*OPC?\nINP:DIQ:RANG 1;*OPC?\n" + iqp << 'P' << kRms;
    QTest::newRow("Rowan") << "Rowan" << nsel + iqp << 'P' << kRms;
    QTest::newRow("Spruce") << "Spruce" << nsel + "INP:SEL RF;*OPC?\n" + iqp << 'P' << kRms;
    QTest::newRow("Tamarack") << "Tamarack" << nsel + "INP:TYPE INPUT1;*OPC?\n" + iqp << 'P' << kRms;
    QTest::newRow("Wattle") << "Wattle" << QByteArray() << 'P' << kRms;
    QTest::newRow("Zelkova") << "Zelkova"
                             << QByteArray("SYST:ERR:ALL?\nIQ:STAT ON;*OPC?\nCHAN2:IQ:INPT COMPLEX;*OPC?\n"
                                           "CHAN2:IQ:INPM RFIF;*OPC?\nIQ:RBW 0.8;*OPC?\nIQ:SRAT 1e+06Hz;*OPC?\n"
                                           "CHAN2:IQ:CFR 1e+09;*OPC?\nCHAN2:IQ:SBIF NUPP;*OPC?\n")
                             << 'P' << 1.0;
}

void TestSim::acquisition()
{
    QFETCH(QString, type);
    QFETCH(QByteArray, setup);
    QFETCH(char, layout);
    QFETCH(double, amplitude);
    Sim sim({"--type", type});
    auto s = sim.connect();
    const bool scope = type == "Zelkova";
    QByteArray lines = "*CLS;*OPC?\n";
    if (!scope)
        lines += "SYST:ERR:CLE:ALL;*OPC?\nUNIT:POW DBM;*OPC?\nTRAC:IQ ON;*OPC?\nSYST:COMM:GPIB:RTER EOI;*OPC?\n";
    for (const QByteArray& line : (lines + setup).split('\n')) {
        if (!line.isEmpty())
            QVERIFY2(!ask(*s, line + "\n").isEmpty(), line.constData());
    }
    for (long n : {1L, 127L, 128L, 129L, 1000L}) {
        QByteArray set = type == "Alder"
                             ? "TRAC:IQ:SET RAW,8MHz,1000000Hz,IMM,POS,0ms," + QByteArray::number(n / 1000.0) + "ms;*OPC?\n"
                             : "TRAC:IQ:SET NORM,1000000Hz,1000000Hz,IMM,POS,0," + QByteArray::number(qlonglong(n)) + ";*OPC?\n";
        if (scope)
            set = "IQ:RLEN " + QByteArray::number(qlonglong(n)) + ";*OPC?\nRUNS;*OPC?\n";
        else
            set += "FORM REAL, 32;*OPC?\n";
        s->write(set);
        QCOMPARE(readBytes(*s, 4), QByteArray("1\n1\n"));
        s->write(scope ? "CHAN2:IQ:DATA?\n" : "TRAC:IQ:DATA?\n");
        QByteArray data = readBlock(*s);
        QCOMPARE(data.size(), int(8 * n));
        QCOMPARE(firstWrong(data, layout, amplitude, n), -1L);
    }
    QCOMPARE(ask(*s, "SYST:ERR:ALL?\n"), QByteArray("0,\"No error\"\n"));
}

// The handheld receiver records to its card; the catalogue lists the file,
// which arrives as a block and goes away when deleted.
void TestSim::recording()
{
    Sim sim({"--type", "Yew"});
    auto s = sim.connect();
    for (const char* m : {"BAND 1.5kHz;*OPC?\n", "DEM IQ;*OPC?\n", "TRAC:REC:SOUR IQ;*OPC?\n", "TRAC:REC:STOR FILE;*OPC?\n",
                          "TRAC:REC:STAR;*OPC?\n", "TRAC:REC:STOP;*OPC?\n", "MMEM:CDIR '\\Storage Card\\Yew';*OPC?\n"})
        QCOMPARE(ask(*s, m), QByteArray("1\n"));
    QByteArray cat = ask(*s, "MMEM:CAT?\n");
    QRegularExpressionMatch m = QRegularExpression("\"RecIQ0001.riq,BIN,(\\d+)\"").match(QString(cat));
    QVERIFY2(m.hasMatch(), cat.constData());
    s->write("MMEM:DATA? 'RecIQ0001.riq'\n");
    QByteArray file = readBlock(*s);
    QCOMPARE(file.size(), m.captured(1).toInt());
    QVERIFY(file.size() >= 84);
    const long n = (file.size() - 84) / 4;
    QCOMPARE(le32(file.constData() + 32), 640000u);
    QCOMPARE(le32(file.constData() + 64), uint32_t(n));
    QCOMPARE(le32(file.constData() + 68), 0u);
    QCOMPARE(firstWrong(file.mid(84), 'R', 10000, n), -1L);
    QCOMPARE(ask(*s, "MMEM:DEL RecIQ0001.riq;*OPC?\n"), QByteArray("1\n"));
    QVERIFY(!ask(*s, "MMEM:CAT? '\\Storage Card\\Yew'\n").contains("RecIQ"));
    QCOMPARE(ask(*s, "SYST:ERR?\n"), QByteArray("0,\"No error\"\n"));
}

void TestSim::faults_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<QByteArray>("query");
    QTest::addColumn<QByteArray>("expected"); // the whole reply
    QTest::addColumn<bool>("closed");         // the simulator closes the connection after it
    QByteArray block, longer; // longer: what --oversize sends, 512 bytes more
    for (int k = 0; k < 1512; ++k)
        (k < 1000 ? block : longer) += char(k % 251);
    longer.prepend(block);
    QTest::newRow("drop inside a block") << "--drop-after=100" << QByteArray("SIM:BLOCK? 1000\n") << ("#41000" + block).left(100)
                                         << true;
    QTest::newRow("drop at the last byte") << "--drop-after=1006" << QByteArray("SIM:BLOCK? 1000\n")
                                           << ("#41000" + block).left(1006) << true;
    QTest::newRow("reply of the drop size") << "--drop-after=1007" << QByteArray("SIM:BLOCK? 1000\n")
                                            << "#41000" + block + "\n" << false;
    QTest::newRow("trickle") << "--trickle=7" << QByteArray("SIM:BLOCK? 1000\n") << "#41000" + block + "\n" << false;
    QTest::newRow("oversize") << "--oversize" << QByteArray("SIM:BLOCK? 1000\n")
                              << "#41000" + longer + "\n" << false;
}

void TestSim::faults()
{
    QFETCH(QString, option);
    QFETCH(QByteArray, query);
    QFETCH(QByteArray, expected);
    QFETCH(bool, closed);
    QStringList args = option.split('=');
    Sim sim(args);
    auto s = sim.connect();
    s->write(query);
    QCOMPARE(readBytes(*s, expected.size()), expected);
    if (closed) {
        QVERIFY(s->state() == QAbstractSocket::UnconnectedState || s->waitForDisconnected(kWait));
        QCOMPARE(s->readAll(), QByteArray());
    } else {
        QCOMPARE(ask(*s, "*OPC?\n"), QByteArray("1\n"));
    }
}

// Garbage never takes the simulator down; limits close only the offender.
void TestSim::hostile_data()
{
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<bool>("closed");
    QByteArray noise;
    for (int k = 0; k < 200000; ++k)
        noise += char((k * 7919 + (k >> 5)) & 255);
    QTest::newRow("noise") << noise + "\n" << false;
    QTest::newRow("line just within the limit") << QByteArray((1 << 20) - 1, 'A') + "\n" << false;
    QTest::newRow("line beyond the limit") << QByteArray((1 << 20) + 1, 'A') << true;
    QTest::newRow("block beyond the limit") << QByteArray("X #9100000000") << true;
    QTest::newRow("broken block header") << QByteArray("X #9x;Y #\n") << false;
    QTest::newRow("huge numbers") << QByteArray("SIM:BLOCK? 1e300;SIM:TEXT? -1;CHAN99999999999:IQ:DATA?;*ESE 1e9\n") << false;
}

void TestSim::hostile()
{
    QFETCH(QByteArray, sent);
    QFETCH(bool, closed);
    Sim sim({});
    auto s = sim.connect();
    s->write(sent);
    if (closed)
        QVERIFY(s->waitForDisconnected(kWait));
    else
        QCOMPARE(ask(*s, "\n*OPC?\n").right(2), QByteArray("1\n"));
    auto again = sim.connect();
    QCOMPARE(ask(*again, "*OPC?\n"), QByteArray("1\n"));
}

QTEST_GUILESS_MAIN(TestSim)
#include "tst_sim.moc"
