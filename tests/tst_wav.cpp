#include "iqfiles.h"

#include "formats/catalogue.h"
#include "formats/save.h"
#include "formats/wav.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>
#include <cmath>

namespace {

IQDatStr loadAs(int tlIndex, const QString& fileI, const QString& fileQ = QString())
{
    IQDatStr r;
    r.Typ = tlIndex;
    r.FileI = fileI;
    r.FileQ = fileQ;
    return r;
}

constexpr int kMono = 14, kStereo = 15;

// Runs a python program with the Debian interpreter (the one with the
// standard wave module); returns false when there is none.
bool python(const QString& code, const QStringList& args, QByteArray* out = nullptr)
{
    const QString py = QStringLiteral("/usr/bin/python3");
    if (!QFile::exists(py))
        return false;
    QProcess p;
    p.start(py, QStringList{"-c", code} + args);
    if (!p.waitForFinished(60000) || p.exitCode() != 0) {
        qWarning() << p.readAllStandardError();
        return false;
    }
    if (out)
        *out = p.readAllStandardOutput();
    return true;
}

} // namespace

class TstWav : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QString path(const QString& name) { return dir.filePath(name); }

private slots:
    void init() { EscFlg = 0; }

    // The header of a written file, field by field, and its read-back.
    void thousandSamples()
    {
        std::vector<float> i(1000), q(1000);
        for (int k = 0; k < 1000; ++k) {
            i[k] = float(std::sin(k * 0.1));
            q[k] = float(std::cos(k * 0.1));
        }
        t::Rec rec(i, q, 1e6);
        QCOMPARE(SaveWav(rec.r, path("a.wav")), ST_OK);
        const QByteArray f = t::read(path("a.wav"));
        QCOMPARE(f.size(), 4044);
        QCOMPARE(f.left(4), QByteArray("RIFF"));
        QCOMPARE(t::u32(f, 4), 8036u);
        QCOMPARE(f.mid(8, 8), QByteArray("WAVEfmt "));
        QCOMPARE(t::u32(f, 16), 16u);
        QCOMPARE(t::s16(f, 20), int16_t(1));
        QCOMPARE(t::s16(f, 22), int16_t(2));
        QCOMPARE(t::u32(f, 24), 1000000u);
        QCOMPARE(t::u32(f, 28), 4000000u);
        QCOMPARE(t::s16(f, 32), int16_t(4));
        QCOMPARE(t::s16(f, 34), int16_t(16));
        QCOMPARE(f.mid(36, 4), QByteArray("data"));
        QCOMPARE(t::u32(f, 40), 8000u);

        IQDatStr r = loadAs(kStereo, path("a.wav"));
        QCOMPARE(LoadDatFile(&r), ST_OK);
        QCOMPARE(r.N, uint64_t(1000));
        QCOMPARE(r.Clock, 1e6);
        for (int k = 0; k < 1000; ++k) {
            QCOMPARE(r.I[k], float(t::s16(f, 44 + 4 * k)));
            QCOMPARE(r.Q[k], float(t::s16(f, 46 + 4 * k)));
        }
        FreeArr(&r);
    }

    void symmetricFullScale()
    {
        t::Rec rec({-1, 0, 1}, {-1, 0, 1});
        QCOMPARE(SaveWav(rec.r, path("s.wav")), ST_OK);
        const QByteArray f = t::read(path("s.wav"));
        const int16_t want[] = {-32767, -32767, 0, 0, 32767, 32767};
        for (int k = 0; k < 6; ++k)
            QCOMPARE(t::s16(f, 44 + 2 * k), want[k]);
    }

    // One factor for both channels that never lets a channel wrap.
    void commonScale_data()
    {
        QTest::addColumn<std::vector<float>>("i");
        QTest::addColumn<std::vector<float>>("q");
        QTest::addColumn<std::vector<int>>("wantI");
        QTest::addColumn<std::vector<int>>("wantQ");
        // The smaller factor: I at full scale, Q at half.
        QTest::newRow("ranges differ") << std::vector<float>{-1, 1} << std::vector<float>{-0.5f, 0.5f}
                                       << std::vector<int>{-32767, 32767} << std::vector<int>{-16383, 16383};
        // A constant channel has no factor; the other one still counts.
        QTest::newRow("constant Q") << std::vector<float>{-2, 2} << std::vector<float>{0, 0}
                                    << std::vector<int>{-32767, 32767} << std::vector<int>{0, 0};
        // 65535.9 / range would map 1.0 to 65535 and wrap to -1.
        QTest::newRow("positive only") << std::vector<float>{0, 1} << std::vector<float>{0, 1}
                                       << std::vector<int>{0, 32767} << std::vector<int>{0, 32767};
        QTest::newRow("all zero") << std::vector<float>{0, 0} << std::vector<float>{0, 0}
                                  << std::vector<int>{0, 0} << std::vector<int>{0, 0};
    }
    void commonScale()
    {
        QFETCH(std::vector<float>, i);
        QFETCH(std::vector<float>, q);
        QFETCH(std::vector<int>, wantI);
        QFETCH(std::vector<int>, wantQ);
        t::Rec rec(i, q);
        QCOMPARE(SaveWav(rec.r, path("c.wav")), ST_OK);
        const QByteArray f = t::read(path("c.wav"));
        for (size_t k = 0; k < i.size(); ++k) {
            QCOMPARE(int(t::s16(f, 44 + 4 * qint64(k))), wantI[k]);
            QCOMPARE(int(t::s16(f, 46 + 4 * qint64(k))), wantQ[k]);
        }
    }

    void decoding()
    {
        QByteArray d;
        d += QByteArray::fromHex("ff00ffff");
        QVERIFY(t::write(path("d16.wav"), t::wav(2, 16, 8000, d)));
        IQDatStr r = loadAs(kStereo, path("d16.wav"));
        QCOMPARE(LoadDatFile(&r), ST_OK);
        QCOMPARE(r.N, uint64_t(1));
        QCOMPARE(r.I[0], 255.0f);
        QCOMPARE(r.Q[0], -1.0f);
        QCOMPARE(r.Clock, 8000.0);
        FreeArr(&r);
        // 8-bit values are signed bytes, as the program always read them.
        QVERIFY(t::write(path("d8.wav"), t::wav(2, 8, 8000, QByteArray::fromHex("807f0001"))));
        r = loadAs(kStereo, path("d8.wav"));
        QCOMPARE(LoadDatFile(&r), ST_OK);
        QCOMPARE(r.N, uint64_t(2));
        QCOMPARE(r.I[0], -128.0f);
        QCOMPARE(r.Q[0], 127.0f);
        QCOMPARE(r.I[1], 0.0f);
        QCOMPARE(r.Q[1], 1.0f);
        FreeArr(&r);
    }

    void refusals_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("type");
        const QByteArray four = QByteArray::fromHex("01000200");
        QTest::newRow("mono as mixed") << t::wav(1, 16, 8000, four) << kStereo;
        QTest::newRow("24-bit") << t::wav(2, 24, 8000, QByteArray(12, '\1')) << kStereo;
        QTest::newRow("0 bits") << t::wav(2, 0, 8000, four) << kStereo;
        QByteArray notPcm = t::wav(2, 16, 8000, four);
        notPcm[20] = 3;
        QTest::newRow("float format") << notPcm << kStereo;
        QByteArray noData = t::wav(2, 16, 8000, four);
        noData.replace(36, 4, "LIST");
        QTest::newRow("no data chunk") << noData << kStereo;
        QByteArray notRiff = t::wav(2, 16, 8000, four);
        notRiff.replace(0, 4, "RIFX");
        QTest::newRow("not RIFF") << notRiff << kStereo;
        QTest::newRow("short") << QByteArray("RIFF") << kStereo;
        QTest::newRow("empty") << QByteArray() << kStereo;
    }
    void refusals()
    {
        QFETCH(QByteArray, file);
        QFETCH(int, type);
        QVERIFY(t::write(path("r.wav"), file));
        IQDatStr r = loadAs(type, path("r.wav"));
        QCOMPARE(LoadDatFile(&r), ST_WAVFMT);
        QVERIFY(!r.I && !r.Q);
        QCOMPARE(r.N, uint64_t(0));
    }

    void missingFile()
    {
        IQDatStr r = loadAs(kStereo, path("none.wav"));
        QCOMPARE(LoadDatFile(&r), ST_FILE1);
    }

    // Files of other tools: extra chunks before the data, an 18-byte format
    // chunk followed by "fact", and a data size counting the real bytes.
    void otherToolsFiles()
    {
        const QByteArray data = t::pairs({1, -2, 3}, {-4, 5, -6});
        QByteArray list = "LIST";
        t::le32(list, 5);
        list += "INFOx";
        list += '\0'; // pad byte of an odd chunk
        QByteArray fact = "fact";
        t::le32(fact, 4);
        t::le32(fact, 3);
        for (const QByteArray& f : {t::wav(2, 16, 44100, data, list), t::wav(2, 16, 44100, data, fact, 18)}) {
            QVERIFY(t::write(path("o.wav"), f));
            IQDatStr r = loadAs(kStereo, path("o.wav"));
            QCOMPARE(LoadDatFile(&r), ST_OK);
            QCOMPARE(r.N, uint64_t(3));
            QCOMPARE(r.I[2], 3.0f);
            QCOMPARE(r.Q[2], -6.0f);
            FreeArr(&r);
        }
        // A data size beyond the file counts only the frames present.
        QByteArray lying = t::wav(2, 16, 44100, data);
        lying.replace(40, 4, QByteArray::fromHex("ffffff7f"));
        QVERIFY(t::write(path("l.wav"), lying));
        IQDatStr r = loadAs(kStereo, path("l.wav"));
        QCOMPARE(LoadDatFile(&r), ST_OK);
        QCOMPARE(r.N, uint64_t(3));
        FreeArr(&r);
    }

    // Beyond the 32-bit size fields the writer switches to RF64.
    void rf64Switch()
    {
        const QByteArray last = WavHeader(536870907, 2, 1e6);
        QCOMPARE(last.size(), 44);
        QCOMPARE(last.left(4), QByteArray("RIFF"));
        QCOMPARE(t::u32(last, 4), 4294967292u);
        QCOMPARE(t::u32(last, 40), 4294967256u);

        const uint64_t n = 536870908;
        const QByteArray h = WavHeader(n, 2, 1e6);
        QCOMPARE(h.size(), 80);
        QCOMPARE(h.left(4), QByteArray("RF64"));
        QCOMPARE(t::u32(h, 4), 0xFFFFFFFFu);
        QCOMPARE(h.mid(8, 8), QByteArray("WAVEds64"));
        QCOMPARE(t::u32(h, 16), 28u);
        QCOMPARE(t::u64(h, 20), 4 * n + 72);
        QCOMPARE(t::u64(h, 28), 4 * n);
        QCOMPARE(t::u64(h, 36), n);
        QCOMPARE(h.mid(48, 4), QByteArray("fmt "));
        QCOMPARE(h.mid(72, 4), QByteArray("data"));
        QCOMPARE(t::u32(h, 76), 0xFFFFFFFFu);

        // A small RF64 file reads through its ds64 sizes.
        QByteArray f = h.left(80);
        f.replace(20, 8, QByteArray(8, '\0'));
        f.replace(28, 8, QByteArray::fromHex("0800000000000000"));
        f += t::pairs({7, 8}, {-7, -8});
        f += "junk after the data";
        QVERIFY(t::write(path("rf.wav"), f));
        IQDatStr r = loadAs(kStereo, path("rf.wav"));
        QCOMPARE(LoadDatFile(&r), ST_OK);
        QCOMPARE(r.N, uint64_t(2));
        QCOMPARE(r.Q[1], -8.0f);
        FreeArr(&r);
    }

    // Sizes around the internal chunk: the round trip keeps every sample.
    void roundTripSizes_data()
    {
        QTest::addColumn<int>("n");
        for (int n : {0, 1, int(kChunkSamples) - 1, int(kChunkSamples), int(kChunkSamples) + 1})
            QTest::newRow(qPrintable(QString::number(n))) << n;
    }
    void roundTripSizes()
    {
        QFETCH(int, n);
        std::vector<float> i(static_cast<size_t>(n)), q(static_cast<size_t>(n));
        for (int k = 0; k < n; ++k) {
            i[size_t(k)] = float(k % 65535 - 32767);
            q[size_t(k)] = float(32767 - k % 65535);
        }
        if (n) {
            i[0] = q[0] = -32767;
            i[size_t(n) - 1] = q[size_t(n) - 1] = 32767;
        }
        t::Rec rec(i, q, 2e6);
        QCOMPARE(SaveWav(rec.r, path("rt.wav")), ST_OK);
        QCOMPARE(QFileInfo(path("rt.wav")).size(), 44 + 4 * qint64(n));
        IQDatStr r = loadAs(kStereo, path("rt.wav"));
        QCOMPARE(LoadDatFile(&r), ST_OK);
        QCOMPARE(r.N, uint64_t(n));
        // Range -32767..32767 scales by 65535.9/65534: integers stay as they are.
        for (int k = 0; k < n; ++k)
            if (r.I[k] != i[size_t(k)] || r.Q[k] != q[size_t(k)])
                QFAIL(qPrintable(QStringLiteral("sample %1 differs").arg(k)));
        FreeArr(&r);
    }

    void monoPair()
    {
        IQDatStr sav;
        sav.Typ = kMono;
        sav.FileI = path("m.i.wav");
        sav.FileQ = path("m.q.wav");
        t::Rec dat({-1, 0.5f, 1}, {0.25f, -0.5f, 0}, 48000);
        IQDatStr dst = sav;
        bool result = false;
        QCOMPARE(SaveDatFile(&dat.r, &dst, &sav, AnaStr{}, false, 0, &result), ST_OK);
        const QByteArray fi = t::read(sav.FileI);
        QCOMPARE(fi.size(), 44 + 6);
        QCOMPARE(t::s16(fi, 22), int16_t(1));
        QCOMPARE(t::u32(fi, 40), 6u);
        IQDatStr r = loadAs(kMono, sav.FileI, sav.FileQ);
        QCOMPARE(LoadDatFile(&r), ST_OK);
        QCOMPARE(r.N, uint64_t(3));
        QCOMPARE(r.Clock, 48000.0);
        QCOMPARE(r.I[0], -32767.0f);
        QCOMPARE(r.I[2], 32767.0f);
        QCOMPARE(r.Q[1], -16383.0f);
        FreeArr(&r);

        // Append reads the pair back and writes it again, longer.
        QCOMPARE(SaveDatFile(&dat.r, &dst, &sav, AnaStr{}, true, 1, &result), ST_OK);
        r = loadAs(kMono, sav.FileI, sav.FileQ);
        QCOMPARE(LoadDatFile(&r), ST_OK);
        QCOMPARE(r.N, uint64_t(7));
        FreeArr(&r);
    }

    void monoRefusals()
    {
        const QByteArray mono3 = t::wav(1, 16, 8000, QByteArray::fromHex("010002000300"));
        const QByteArray mono2 = t::wav(1, 16, 8000, QByteArray::fromHex("01000200"));
        QVERIFY(t::write(path("i.wav"), mono3));
        QVERIFY(t::write(path("q2.wav"), mono2));
        QVERIFY(t::write(path("st.wav"), t::wav(2, 16, 8000, QByteArray::fromHex("01000200"))));
        QVERIFY(t::write(path("q8.wav"), t::wav(1, 8, 8000, QByteArray::fromHex("010203"))));
        struct Case { const char* i; const char* q; int32_t st; } cases[] = {
            {"st.wav", "q2.wav", ST_WAVFMT},  // a stereo file as the I file
            {"i.wav", "st.wav", ST_WAVFMT},
            {"i.wav", "q8.wav", ST_WAVFMT},   // formats differ
            {"i.wav", "q2.wav", ST_LENGTH},   // Q shorter than I
            {"i.wav", "none.wav", ST_FILE2},
            {"none.wav", "i.wav", ST_FILE1},
        };
        for (const Case& c : cases) {
            IQDatStr r = loadAs(kMono, path(c.i), path(c.q));
            QCOMPARE(LoadDatFile(&r), c.st);
            QVERIFY(!r.I && !r.Q);
        }
        IQDatStr r = loadAs(kMono, path("i.wav"), path("i.wav"));
        QCOMPARE(LoadDatFile(&r), ST_OK);
        QCOMPARE(r.Q[2], 3.0f);
        FreeArr(&r);
    }

    void cancel()
    {
        t::Rec rec({1, 2}, {3, 4});
        QCOMPARE(SaveWav(rec.r, path("x.wav")), ST_OK);
        EscFlg = 1;
        IQDatStr r = loadAs(kStereo, path("x.wav"));
        QCOMPARE(LoadDatFile(&r), ST_CANCEL);
        QVERIFY(!r.I);
        QCOMPARE(int(EscFlg), 0);
        // A cancelled save leaves the old file whole.
        const QByteArray before = t::read(path("x.wav"));
        t::Rec other({5, 6, 7}, {8, 9, 10});
        EscFlg = 1;
        QCOMPARE(SaveWav(other.r, path("x.wav")), ST_CANCEL);
        QCOMPARE(t::read(path("x.wav")), before);
        QCOMPARE(int(EscFlg), 0);
    }

    void unwritable()
    {
        t::Rec rec({1}, {1});
        QCOMPARE(SaveWav(rec.r, path("no/such/dir.wav")), ST_FILE1);
        QVERIFY(!QFile::exists(path("no/such/dir.wav")));
    }

    // The standard library's wave module reads our files and writes files
    // that we read.
    void pythonWave()
    {
        if (!QFile::exists("/usr/bin/python3"))
            QSKIP("/usr/bin/python3 is not installed");
        const int n = 5000;
        std::vector<float> i(n), q(n);
        for (int k = 0; k < n; ++k) {
            i[size_t(k)] = float(k % 2001 - 1000);
            q[size_t(k)] = float((k * 7) % 501 - 250);
        }
        i[0] = -32767;
        i[1] = 32767;
        t::Rec rec(i, q, 22050);
        QCOMPARE(SaveWav(rec.r, path("py.wav")), ST_OK);
        // Our files announce twice their data bytes; readers take what is there.
        const QString reader = QStringLiteral(
            "import wave,sys,array\n"
            "w=wave.open(sys.argv[1]);a=array.array('h');a.frombytes(w.readframes(w.getnframes()))\n"
            "print(w.getnchannels(),w.getsampwidth(),w.getframerate(),len(a)//2)\n"
            "print(' '.join(map(str,a[:8])),a[-2],a[-1])\n");
        QByteArray out;
        QVERIFY(python(reader, {path("py.wav")}, &out));
        const QList<QByteArray> lines = out.trimmed().split('\n');
        QCOMPARE(lines[0].trimmed(), QByteArray("2 2 22050 5000"));
        const QByteArray f = t::read(path("py.wav"));
        QByteArray want;
        for (int k = 0; k < 8; ++k)
            want += QByteArray::number(t::s16(f, 44 + 2 * k)) + (k < 7 ? " " : "");
        want += " " + QByteArray::number(t::s16(f, 44 + 4 * (n - 1))) + " "
            + QByteArray::number(t::s16(f, 46 + 4 * (n - 1)));
        QCOMPARE(lines[1].trimmed(), want);

        const QString writer = QStringLiteral(
            "import wave,sys,array\n"
            "a=array.array('h',[((k*37)%65536)-32768 if k%2==0 else (k%1000)-500 for k in range(2*3001)])\n"
            "w=wave.open(sys.argv[1],'wb');w.setnchannels(2);w.setsampwidth(2);w.setframerate(96000)\n"
            "w.writeframes(a.tobytes());w.close()\n");
        QVERIFY(python(writer, {path("pyw.wav")}));
        IQDatStr r = loadAs(kStereo, path("pyw.wav"));
        QCOMPARE(LoadDatFile(&r), ST_OK);
        QCOMPARE(r.N, uint64_t(3001));
        QCOMPARE(r.Clock, 96000.0);
        for (int k = 0; k < 3001; ++k) {
            const int ki = 2 * k, kq = 2 * k + 1;
            QCOMPARE(r.I[k], float((ki * 37) % 65536 - 32768));
            QCOMPARE(r.Q[k], float(kq % 1000 - 500));
        }
        FreeArr(&r);
    }

    void sox()
    {
        const QString sox = QStandardPaths::findExecutable("sox");
        if (sox.isEmpty())
            QSKIP("sox is not installed");
        // sox -> us: raw 16-bit pairs made into a WAV file by sox.
        QByteArray raw;
        std::vector<int16_t> i, q;
        for (int k = 0; k < 4000; ++k) {
            i.push_back(int16_t(k * 13 - 26000));
            q.push_back(int16_t(-k * 5));
        }
        QVERIFY(t::write(path("in.raw"), t::pairs(i, q)));
        QCOMPARE(QProcess::execute(sox, {"-q", "-t", "raw", "-r", "32000", "-e", "signed", "-b", "16", "-c", "2",
                                         path("in.raw"), path("sox.wav")}),
                 0);
        IQDatStr r = loadAs(kStereo, path("sox.wav"));
        QCOMPARE(LoadDatFile(&r), ST_OK);
        QCOMPARE(r.N, uint64_t(4000));
        QCOMPARE(r.Clock, 32000.0);
        for (int k = 0; k < 4000; ++k) {
            QCOMPARE(r.I[k], float(i[size_t(k)]));
            QCOMPARE(r.Q[k], float(q[size_t(k)]));
        }
        // us -> sox: sox decodes our file to raw pairs equal to its data.
        QCOMPARE(SaveWav(r, path("ours.wav")), ST_OK);
        FreeArr(&r);
        QProcess p;
        p.start(sox, {"-q", "-V1", path("ours.wav"), "-t", "raw", "-e", "signed", "-b", "16", path("out.raw")});
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitCode(), 0);
        QCOMPARE(t::read(path("out.raw")), t::read(path("ours.wav")).mid(44));
    }
};

QTEST_GUILESS_MAIN(TstWav)
#include "tst_wav.moc"
