// WAV mixed and WAV single: exact bytes written, other tools' files read,
// refusals, and interop with python's wave module and sox both ways.
#include "iqfiles.h"

#include "formats/catalogue.h"
#include "formats/save.h"
#include "formats/wav.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <cmath>

namespace {
constexpr int kMono = 14, kStereo = 15;
using Vf = std::vector<float>;
using Vi = std::vector<int>;
} // namespace

class TstWav : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QString path(const QString& name) { return dir.filePath(name); }

private slots:
    void init() { EscFlg = 0; }

    // The header of a written file byte by byte, and its read-back.
    void thousandSamples()
    {
        Vf i(1000), q(1000);
        for (size_t k = 0; k < 1000; ++k) {
            i[k] = float(std::sin(double(k) * 0.1));
            q[k] = float(std::cos(double(k) * 0.1));
        }
        t::Rec rec(i, q, 1e6);
        QCOMPARE(SaveWav(rec.r, path("a.wav")), ST_OK);
        const QByteArray f = t::readFile(path("a.wav"));
        QCOMPARE(f.size(), 4044);
        // RIFF 8036, fmt 16: PCM, 2 channels, 1e6 Hz, 4e6 B/s, 4, 16 bits; data 8000.
        QCOMPARE(f.left(44), QByteArray::fromHex("52494646 641f0000 57415645 666d7420 10000000 0100 0200"
                                                 "40420f00 00093d00 0400 1000 64617461 401f0000"));
        t::Rec r;
        QCOMPARE(t::load(&r.r, kStereo, path("a.wav")), ST_OK);
        QCOMPARE(r->N, uint64_t(1000));
        QCOMPARE(r->Clock, 1e6);
        for (int k = 0; k < 1000; ++k) {
            QCOMPARE(r->I[k], float(t::s16(f, 44 + 4 * k)));
            QCOMPARE(r->Q[k], float(t::s16(f, 46 + 4 * k)));
        }
    }

    // One factor for both channels that never lets a channel wrap.
    void scale_data()
    {
        QTest::addColumn<Vf>("i");
        QTest::addColumn<Vf>("q");
        QTest::addColumn<Vi>("want");  // interleaved
        QTest::newRow("I=Q=[-1,0,1]") << Vf{-1, 0, 1} << Vf{-1, 0, 1} << Vi{-32767, -32767, 0, 0, 32767, 32767};
        // The smaller factor: I at full scale, Q at half.
        QTest::newRow("ranges differ") << Vf{-1, 1} << Vf{-0.5f, 0.5f} << Vi{-32767, -16383, 32767, 16383};
        // A constant channel has no factor; the other one still counts.
        QTest::newRow("constant Q") << Vf{-2, 2} << Vf{0, 0} << Vi{-32767, 0, 32767, 0};
        // 65535.9 / range would map 1.0 to 65535 and wrap to -1.
        QTest::newRow("positive only") << Vf{0, 1} << Vf{0, 1} << Vi{0, 0, 32767, 32767};
        QTest::newRow("all zero") << Vf{0, 0} << Vf{0, 0} << Vi{0, 0, 0, 0};
    }
    void scale()
    {
        QFETCH(Vf, i);
        QFETCH(Vf, q);
        QFETCH(Vi, want);
        t::Rec rec(i, q);
        QCOMPARE(SaveWav(rec.r, path("c.wav")), ST_OK);
        const QByteArray f = t::readFile(path("c.wav"));
        QCOMPARE(f.size(), 44 + 2 * int(want.size()));
        for (size_t k = 0; k < want.size(); ++k)
            QCOMPARE(int(t::s16(f, 44 + 2 * qint64(k))), want[k]);
    }

    // Files of other tools: 16 and 8 bits, extra chunks before the data, an
    // 18-byte format chunk followed by "fact", a data size beyond the file
    // (only the frames present count), RF64 sizes from the ds64 chunk; and
    // the files refused.
    void reads_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("status");
        QTest::addColumn<Vf>("i");
        QTest::addColumn<Vf>("q");
        QTest::addColumn<double>("clock");
        auto ok = [](const char* name, const QByteArray& f, const Vf& i, const Vf& q, double clock) {
            QTest::newRow(name) << f << int(ST_OK) << i << q << clock;
        };
        auto bad = [](const char* name, const QByteArray& f) { QTest::newRow(name) << f << int(ST_WAVFMT) << Vf{} << Vf{} << 0.0; };
        ok("16-bit", t::wav(2, 16, 8000, QByteArray::fromHex("ff00ffff")), {255}, {-1}, 8000);
        // 8-bit values are signed bytes, as the program always read them.
        ok("8-bit signed", t::wav(2, 8, 8000, QByteArray::fromHex("807f0001")), {-128, 0}, {127, 1}, 8000);
        const QByteArray d3 = t::pairs({1, -2, 3}, {-4, 5, -6});
        const Vf i3{1, -2, 3}, q3{-4, 5, -6};
        QByteArray list = "LIST", fact = "fact";
        t::le32(list, 5);
        list += QByteArray("INFOx\0", 6);  // pad byte of an odd chunk
        t::le32(fact, 4);
        t::le32(fact, 3);
        ok("LIST chunk", t::wav(2, 16, 44100, d3, list), i3, q3, 44100);
        ok("fmt 18 + fact", t::wav(2, 16, 44100, d3, fact, 18), i3, q3, 44100);
        QByteArray lying = t::wav(2, 16, 44100, d3);
        lying.replace(40, 4, QByteArray::fromHex("ffffff7f"));
        ok("data size beyond file", lying, i3, q3, 44100);
        QByteArray rf = WavHeader(536870908, 2, 1e6);
        rf.replace(20, 16, QByteArray::fromHex("0000000000000000 0800000000000000"));
        ok("RF64", rf + t::pairs({7, 8}, {-7, -8}) + "junk after the data", {7, 8}, {-7, -8}, 1e6);

        const QByteArray four = QByteArray::fromHex("01000200");
        bad("mono as mixed", t::wav(1, 16, 8000, four));
        bad("24-bit", t::wav(2, 24, 8000, QByteArray(12, '\1')));
        bad("0 bits", t::wav(2, 0, 8000, four));
        QByteArray notPcm = t::wav(2, 16, 8000, four), noData = notPcm, notRiff = notPcm;
        notPcm[20] = 3;
        bad("float format", notPcm);
        noData.replace(36, 4, "LIST");
        bad("no data chunk", noData);
        notRiff.replace(0, 4, "RIFX");
        bad("not RIFF", notRiff);
        bad("short", "RIFF");
        bad("empty", QByteArray());
    }
    void reads()
    {
        QFETCH(QByteArray, file);
        QFETCH(int, status);
        QFETCH(Vf, i);
        QFETCH(Vf, q);
        QFETCH(double, clock);
        QVERIFY(t::writeFile(path("o.wav"), file));
        t::Rec r;
        QCOMPARE(t::load(&r.r, kStereo, path("o.wav")), status);
        QCOMPARE(r->N, uint64_t(i.size()));
        QVERIFY(t::holds(r.r, i, q));
        if (status == ST_OK)
            QCOMPARE(r->Clock, clock);
        else
            QVERIFY(!r->I && !r->Q);
    }

    // Beyond the 32-bit size fields the writer switches to RF64.
    void rf64Switch()
    {
        const QByteArray last = WavHeader(536870907, 2, 1e6);
        QCOMPARE(last.size(), 44);
        QCOMPARE(last.left(8), QByteArray::fromHex("52494646 fcffffff"));  // RIFF, 4294967292
        QCOMPARE(t::u32(last, 40), 4294967256u);
        // ds64: RIFF size 4n + 72, data 4n, n frames, no table; then the
        // usual fmt chunk, and 32-bit sizes of 0xFFFFFFFF.
        QCOMPARE(WavHeader(536870908, 2, 1e6),
                 QByteArray::fromHex("52463634 ffffffff 57415645 64733634 1c000000 3800008000000000"
                                     "f0ffff7f00000000 fcffff1f00000000 00000000 666d7420 10000000 0100 0200"
                                     "40420f00 00093d00 0400 1000 64617461 ffffffff"));
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
        // Integers up to +-32767 scale by less than 1 + 1/32767: they stay.
        Vf i(static_cast<size_t>(n)), q(i.size());
        for (size_t k = 0; k < i.size(); ++k) {
            i[k] = float(int(k % 65535) - 32767);
            q[k] = float(32767 - int(k % 65535));
        }
        t::Rec rec(i, q, 2e6);
        QCOMPARE(SaveWav(rec.r, path("rt.wav")), ST_OK);
        QCOMPARE(QFileInfo(path("rt.wav")).size(), 44 + 4 * qint64(n));
        t::Rec r;
        QCOMPARE(t::load(&r.r, kStereo, path("rt.wav")), ST_OK);
        QVERIFY(t::holds(r.r, i, q));
    }

    // "WAV single": two mono files with one common scale, read back, then
    // appended to through the save dispatcher.
    void monoPair()
    {
        IQDatStr sav;
        sav.Typ = kMono;
        sav.FileI = path("m.i.wav");
        sav.FileQ = path("m.q.wav");
        IQDatStr dst = sav;
        t::Rec dat({-1, 0.5f, 1}, {0.25f, -0.5f, 0}, 48000);
        bool result = false;
        QCOMPARE(SaveDatFile(&dat.r, &dst, &sav, AnaStr{}, false, 0, &result), ST_OK);
        const QByteArray fi = t::readFile(sav.FileI);
        QCOMPARE(fi.size(), 44 + 6);
        QCOMPARE(t::s16(fi, 22), int16_t(1));
        QCOMPARE(t::u32(fi, 40), 6u);
        t::Rec r, longer;
        QCOMPARE(t::load(&r.r, kMono, sav.FileI, sav.FileQ), ST_OK);
        QCOMPARE(r->Clock, 48000.0);
        QVERIFY(t::holds(r.r, Vf{-32767, 16383, 32767}, Vf{8191, -16383, 0}));
        QCOMPARE(SaveDatFile(&dat.r, &dst, &sav, AnaStr{}, true, 1, &result), ST_OK);
        QCOMPARE(t::load(&longer.r, kMono, sav.FileI, sav.FileQ), ST_OK);
        QCOMPARE(longer->N, uint64_t(7));
    }

    void monoRefusals()
    {
        QVERIFY(t::writeFile(path("i.wav"), t::wav(1, 16, 8000, QByteArray::fromHex("010002000300"))));
        QVERIFY(t::writeFile(path("q2.wav"), t::wav(1, 16, 8000, QByteArray::fromHex("01000200"))));
        QVERIFY(t::writeFile(path("st.wav"), t::wav(2, 16, 8000, QByteArray::fromHex("01000200"))));
        QVERIFY(t::writeFile(path("q8.wav"), t::wav(1, 8, 8000, QByteArray::fromHex("010203"))));
        const struct { int typ; const char* i; const char* q; int32_t st; } cases[] = {
            {kMono, "st.wav", "q2.wav", ST_WAVFMT},  // a stereo file as the I file
            {kMono, "i.wav", "st.wav", ST_WAVFMT},
            {kMono, "i.wav", "q8.wav", ST_WAVFMT},   // formats differ
            {kMono, "i.wav", "q2.wav", ST_LENGTH},   // Q shorter than I
            {kMono, "i.wav", "none.wav", ST_FILE2},
            {kMono, "none.wav", "i.wav", ST_FILE1},
            {kStereo, "none.wav", nullptr, ST_FILE1},
        };
        for (const auto& c : cases) {
            t::Rec r;
            QCOMPARE(t::load(&r.r, c.typ, path(c.i), c.q ? path(c.q) : QString()), c.st);
            QVERIFY(!r->I && !r->Q);
        }
        t::Rec r;
        QCOMPARE(t::load(&r.r, kMono, path("i.wav"), path("i.wav")), ST_OK);
        QVERIFY(t::holds(r.r, Vf{1, 2, 3}, Vf{1, 2, 3}));
    }

    // A cancelled load keeps no arrays; a cancelled save leaves the old file
    // whole, a failed one leaves none.
    void cancelAndFailure()
    {
        t::Rec rec({1, 2}, {3, 4}), other({5, 6, 7}, {8, 9, 10}), r;
        QCOMPARE(SaveWav(rec.r, path("x.wav")), ST_OK);
        const QByteArray before = t::readFile(path("x.wav"));
        EscFlg = 1;
        QCOMPARE(t::load(&r.r, kStereo, path("x.wav")), ST_CANCEL);
        QVERIFY(!r->I);
        QCOMPARE(int(EscFlg), 0);
        EscFlg = 1;
        QCOMPARE(SaveWav(other.r, path("x.wav")), ST_CANCEL);
        QCOMPARE(int(EscFlg), 0);
        QCOMPARE(t::readFile(path("x.wav")), before);
        QCOMPARE(SaveWav(rec.r, path("no/such/dir.wav")), ST_FILE1);
        QVERIFY(!QFile::exists(path("no/such/dir.wav")));
    }

    // Each tool makes a WAV file from the same raw pairs, which we read, and
    // decodes our file to exactly the sample bytes it holds (our files
    // announce twice their data bytes; readers take what is there).
    void interop_data()
    {
        QTest::addColumn<QString>("tool");
        QTest::newRow("python wave") << "py";
        QTest::newRow("sox") << "sox";
    }
    void interop()
    {
        QFETCH(QString, tool);
        std::vector<int16_t> i, q;
        for (int k = 0; k < 4000; ++k) {
            i.push_back(int16_t(k * 13 - 26000));
            q.push_back(int16_t(-k * 5));
        }
        i[1] = -32768;
        q[1] = 32767;
        QVERIFY(t::writeFile(path("in.raw"), t::pairs(i, q)));
        const Vf fi(i.begin(), i.end()), fq(q.begin(), q.end());
        t::Rec ours(fi, fq, 32000);
        QCOMPARE(SaveWav(ours.r, path("ours.wav")), ST_OK);
        const QString theirs = path(tool + ".wav"), decoded = path(tool + ".raw");
        if (tool == "py") {
            // Debian's interpreter: the one with the standard wave module.
            if (!QFile::exists("/usr/bin/python3"))
                QSKIP("/usr/bin/python3 is not installed");
            QCOMPARE(QProcess::execute("/usr/bin/python3",
                                       {"-c",
                                        "import wave,sys\n"
                                        "w=wave.open(sys.argv[2],'wb');w.setnchannels(2);w.setsampwidth(2)\n"
                                        "w.setframerate(32000);w.writeframes(open(sys.argv[1],'rb').read());w.close()\n"
                                        "r=wave.open(sys.argv[3]);open(sys.argv[4],'wb').write(r.readframes(r.getnframes()))\n"
                                        "assert (r.getnchannels(),r.getsampwidth(),r.getframerate())==(2,2,32000)\n",
                                        path("in.raw"), theirs, path("ours.wav"), decoded}),
                     0);
        } else {
            const QString sox = QStandardPaths::findExecutable("sox");
            if (sox.isEmpty())
                QSKIP("sox is not installed");
            QCOMPARE(QProcess::execute(sox, {"-q", "-t", "raw", "-r", "32000", "-e", "signed", "-b", "16", "-c", "2",
                                             path("in.raw"), theirs}), 0);
            QCOMPARE(QProcess::execute(sox, {"-q", "-V1", path("ours.wav"), "-t", "raw", "-e", "signed", "-b", "16",
                                             decoded}), 0);
        }
        QCOMPARE(t::readFile(decoded), t::readFile(path("ours.wav")).mid(44));
        t::Rec r;
        QCOMPARE(t::load(&r.r, kStereo, theirs), ST_OK);
        QCOMPARE(r->Clock, 32000.0);
        QVERIFY(t::holds(r.r, fi, fq));
    }
};

QTEST_GUILESS_MAIN(TstWav)
#include "tst_wav.moc"
