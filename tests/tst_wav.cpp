// The 16-bit types. WAV mixed and WAV single: exact bytes written, other
// tools' files read, refusals, and interop with python's wave module and sox
// both ways. WV waveform and raw recorder files: exact bytes and header
// texts, headers of other writers, lying and broken headers. Round trips and
// append: tst_core.
#include "formats/catalogue.h"
#include "formats/vantor.h"
#include "formats/wav.h"
#include "formats/wv.h"
#include "testutil.h"

#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <cmath>

using namespace testutil;

namespace {
constexpr int kMono = 14, kStereo = 15, kWvLoad = 32, kRaw = 24;

bool matches(const QByteArray& text, const QString& pattern)
{
    return QRegularExpression("^" + pattern + "$").match(QString::fromLatin1(text)).hasMatch();
}

} // namespace

class TstWav : public FileTest {
    Q_OBJECT

private slots:
    // One factor for both channels that never lets a channel wrap.
    void scale()
    {
        const struct { const char* name; Vf i, q; std::vector<int> want; } rows[] = {   // interleaved
            {"I=Q=[-1,0,1]", {-1, 0, 1}, {-1, 0, 1}, {-32767, -32767, 0, 0, 32767, 32767}},
            // The smaller factor: I at full scale, Q at half.
            {"ranges differ", {-1, 1}, {-0.5f, 0.5f}, {-32767, -16383, 32767, 16383}},
            // A constant channel has no factor; the other one still counts.
            {"constant Q", {-2, 2}, {0, 0}, {-32767, 0, 32767, 0}},
            // 65535.9 / range would map 1.0 to 65535 and wrap to -1.
            {"positive only", {0, 1}, {0, 1}, {0, 0, 32767, 32767}},
            {"all zero", {0, 0}, {0, 0}, {0, 0, 0, 0}},
        };
        for (const auto& row : rows) {
            Rec rec(row.i, row.q);
            QCOMPARE(SaveWav(rec.r, path("c.wav")), ST_OK);
            const QByteArray f = readFile(path("c.wav"));
            std::vector<int> got;
            for (int k = 44; k < f.size(); k += 2)
                got.push_back(s16(f, k));
            QVERIFY2(got == row.want, row.name);
        }
    }

    // Files of other tools: 16 and 8 bits, extra chunks before the data, an
    // 18-byte format chunk followed by "fact", a data size beyond the file
    // (only the frames present count), RF64 sizes from the ds64 chunk, mono
    // pairs; and the files refused.
    void reads()
    {
        const QByteArray d3 = pairs({1, -2, 3}, {-4, 5, -6}), four = QByteArray::fromHex("01000200");
        const Vf i3{1, -2, 3}, q3{-4, 5, -6};
        QByteArray lying = wav(2, 16, 44100, d3), rf = WavHeader(536870908, 2, 1e6);
        lying.replace(40, 4, QByteArray::fromHex("ffffff7f"));
        rf.replace(20, 16, QByteArray::fromHex("0000000000000000 0800000000000000"));
        QByteArray notPcm = wav(2, 16, 8000, four), noData = notPcm, notRiff = notPcm;
        notPcm[20] = 3;
        noData.replace(36, 4, "LIST");
        notRiff.replace(0, 4, "RIFX");
        const QByteArray mono3 = wav(1, 16, 8000, QByteArray::fromHex("010002000300")),
                         mono2 = wav(1, 16, 8000, four), stereo = wav(2, 16, 8000, four);
        const struct { const char* name; int typ; QByteArray fi, fq; int32_t st; Vf i, q; double clock; } rows[] = {
            {"16-bit", kStereo, wav(2, 16, 8000, QByteArray::fromHex("ff00ffff")), {}, ST_OK, {255}, {-1}, 8000},
            // 8-bit values are signed bytes, as the program always read them.
            {"8-bit signed", kStereo, wav(2, 8, 8000, QByteArray::fromHex("807f0001")), {}, ST_OK, {-128, 0}, {127, 1}, 8000},
            {"LIST chunk", kStereo, wav(2, 16, 44100, d3, "LIST" + le(5) + QByteArray("INFOx\0", 6)), {}, ST_OK, i3, q3,
             44100},   // with the pad byte of an odd chunk
            {"fmt 18 + fact", kStereo, wav(2, 16, 44100, d3, "fact" + le(4) + le(3), 18), {}, ST_OK, i3, q3, 44100},
            {"data size beyond file", kStereo, lying, {}, ST_OK, i3, q3, 44100},
            {"RF64", kStereo, rf + pairs({7, 8}, {-7, -8}) + "junk after the data", {}, ST_OK, {7, 8}, {-7, -8}, 1e6},
            {"mono pair", kMono, mono3, mono3, ST_OK, {1, 2, 3}, {1, 2, 3}, 8000},
            {"mono as mixed", kStereo, wav(1, 16, 8000, four), {}, ST_WAVFMT, {}, {}, 0},
            {"24-bit", kStereo, wav(2, 24, 8000, QByteArray(12, '\1')), {}, ST_WAVFMT, {}, {}, 0},
            {"float format", kStereo, notPcm, {}, ST_WAVFMT, {}, {}, 0},
            {"no data chunk", kStereo, noData, {}, ST_WAVFMT, {}, {}, 0},
            {"not RIFF", kStereo, notRiff, {}, ST_WAVFMT, {}, {}, 0},
            {"short", kStereo, "RIFF", {}, ST_WAVFMT, {}, {}, 0},
            {"stereo as I of a pair", kMono, stereo, mono2, ST_WAVFMT, {}, {}, 0},
            {"stereo as Q of a pair", kMono, mono3, stereo, ST_WAVFMT, {}, {}, 0},
            {"formats of a pair differ", kMono, mono3, wav(1, 8, 8000, QByteArray::fromHex("010203")), ST_WAVFMT, {}, {}, 0},
            {"Q shorter than I", kMono, mono3, mono2, ST_LENGTH, {}, {}, 0},
        };
        for (const auto& row : rows) {
            QVERIFY(writeFile(path("o.wav"), row.fi) && writeFile(path("q.wav"), row.fq));
            Rec r;
            QVERIFY2(load(&r.r, row.typ, path("o.wav"), row.fq.isNull() ? QString() : path("q.wav")) == row.st, row.name);
            QVERIFY2(holds(r.r, row.i, row.q) && (row.st == ST_OK ? r->Clock == row.clock : !r->I && !r->Q), row.name);
        }
    }

    // Beyond the 32-bit size fields the writer switches to RF64.
    void rf64Switch()
    {
        const QByteArray last = WavHeader(536870907, 2, 1e6);
        QCOMPARE(last.size(), 44);
        QCOMPARE(last.left(8), QByteArray::fromHex("52494646 fcffffff"));  // RIFF, 4294967292
        QCOMPARE(u32(last, 40), 4294967256u);
        // ds64: RIFF size 4n + 72, data 4n, n frames, no table; then the
        // usual fmt chunk, and 32-bit sizes of 0xFFFFFFFF.
        QCOMPARE(WavHeader(536870908, 2, 1e6),
                 QByteArray::fromHex("52463634 ffffffff 57415645 64733634 1c000000 3800008000000000"
                                     "f0ffff7f00000000 fcffff1f00000000 00000000 666d7420 10000000 0100 0200"
                                     "40420f00 00093d00 0400 1000 64617461 ffffffff"));
    }

    // Each tool makes a WAV file from the same raw pairs, which we read, and
    // decodes our file to exactly the sample bytes it holds (our files
    // announce twice their data bytes; readers take what is there).
    void interop()
    {
        std::vector<int16_t> i, q;
        for (int k = 0; k < 4000; ++k) {
            i.push_back(int16_t(k * 13 - 26000));
            q.push_back(int16_t(-k * 5));
        }
        i[1] = -32768;
        q[1] = 32767;
        QVERIFY(writeFile(path("in.raw"), pairs(i, q)));
        const Vf fi(i.begin(), i.end()), fq(q.begin(), q.end());
        Rec rec(fi, fq, 32000);
        QCOMPARE(SaveWav(rec.r, path("ours.wav")), ST_OK);
        // Debian's interpreter: the one with the standard wave module.
        const QString python = "/usr/bin/python3", sox = QStandardPaths::findExecutable("sox"), in = path("in.raw"), ours = path("ours.wav");
        const char* const script = "import wave,sys\n"
                                   "w=wave.open(sys.argv[2],'wb');w.setnchannels(2);w.setsampwidth(2)\n"
                                   "w.setframerate(32000);w.writeframes(open(sys.argv[1],'rb').read());w.close()\n"
                                   "r=wave.open(sys.argv[3]);open(sys.argv[4],'wb').write(r.readframes(r.getnframes()))\n"
                                   "assert (r.getnchannels(),r.getsampwidth(),r.getframerate())==(2,2,32000)\n";
        for (const QString tool : {"py", "sox"}) {
            const QString theirs = path(tool + ".wav"), decoded = path(tool + ".raw");
            if (!QFile::exists(tool == "py" ? python : sox))
                QSKIP(qPrintable(tool + " is not installed"));
            const std::vector<QStringList> runs = tool == "py" ? std::vector<QStringList>{{"-c", script, in, theirs, ours, decoded}}
                : std::vector<QStringList>{{"-q", "-t", "raw", "-r", "32000", "-e", "signed", "-b", "16", "-c", "2", in, theirs},
                                           {"-q", "-V1", ours, "-t", "raw", "-e", "signed", "-b", "16", decoded}};
            for (const QStringList& args : runs)
                QCOMPARE(QProcess::execute(tool == "py" ? python : sox, args), 0);
            QCOMPARE(readFile(decoded), readFile(path("ours.wav")).mid(44));
            Rec r;
            QCOMPARE(load(&r.r, kStereo, theirs), ST_OK);
            QVERIFY2(r->Clock == 32000.0 && holds(r.r, fi, fq), qPrintable(tool));
        }
    }

    // Whole files byte by byte; the 2-sample file reads back as integers,
    // not as the values written from. Silence: no division by the zero peak.
    void wvFiles()
    {
        const QString head = "\\{TYPE:TQX-WV,0\\}\\{COPYRIGHT:\\d+ Halvard TQX\\} \\{DATE:\\d+-\\d+-\\d+;\\d+:\\d+:\\d+\\}";
        const struct { Vf i, q; QString header; QByteArray data; Vf bi, bq; } rows[] = {
            {{1, 0}, {0, -1}, "\\{LEVEL OFFS:0\\.000,1\\.000\\}\\{SAMPLES:2\\} \\{CLOCK:1000000\\}\\{WAVEFORM-9:#",
             QByteArray::fromHex("ff7f0000 00000280"), {32767, 0}, {0, -32766}},
            {{0, 0, 0}, {0, 0, 0}, "\\{LEVEL OFFS:0\\.000,0\\.000\\}\\{SAMPLES:3\\} \\{CLOCK:1000000\\}\\{WAVEFORM-13:#",
             QByteArray(12, '\0'), {0, 0, 0}, {0, 0, 0}},
        };
        for (const auto& row : rows) {
            Rec rec(row.i, row.q, 1e6), r;
            QCOMPARE(SaveHvWv(rec.r, path("w.wv")), ST_OK);
            const QByteArray f = readFile(path("w.wv"));
            const int end = f.indexOf('#') + 1;
            QVERIFY2(matches(f.left(end), head + row.header), f.left(end).constData());
            QCOMPARE(f.mid(end), row.data + "}");
            QCOMPARE(load(&r.r, kWvLoad, path("w.wv")), ST_OK);
            QVERIFY(r->Clock == 1e6 && holds(r.r, row.bi, row.bq));
        }
    }

    // Headers of other writers, scrambled files, and counts and ends that
    // do not fit the file.
    void wvHeaders()
    {
        const QByteArray s3 = pairs({1, 2, 3}, {-1, -2, -3}) + "}";
        const struct { const char* name; QByteArray file; int32_t st; uint64_t n; double clock; } rows[] = {
            {"blanks in count", "{TYPE:TQX-WV,0}{SAMPLES:1 000}{CLOCK:2.5e6}{WAVEFORM-4001:#" + QByteArray(4000, '\1') + "}",
             ST_OK, 1000, 2.5e6},
            {"scrambled", "{TYPE:TQX-WV,0}{SAMPLES:3}{CLOCK:1e6}{WWAVEFORM-13:#" + s3, ST_REFUSED, 0, 0},
            // The padding of an EMPTYTAG may itself hold a "#".
            {"EMPTYTAG", "{TYPE:TQX-WV,0}{SAMPLES:3}{CLOCK:7e3}{EMPTYTAG-5:#ab}{WAVEFORM-13:#" + s3, ST_OK, 3, 7e3},
            {"EMPTYTAG, one #", "{EMPTYTAG-5:#ab}" + QByteArray(20, 'x'), ST_FILE1, 0, 0},
            {"no #", "{TYPE:TQX-WV,0}{SAMPLES:3}" + QByteArray(100000, 'x'), ST_FILE1, 0, 0},
            {"empty", "", ST_FILE1, 0, 0},
            // Without SAMPLES the samples run to the closing brace; without
            // CLOCK the clock given for the load stays.
            {"no SAMPLES", "{TYPE:TQX-WV,0}{CLOCK:5}{WAVEFORM-13:#" + s3, ST_OK, 3, 5.0},
            {"no CLOCK", "{TYPE:TQX-WV,0}{SAMPLES:3}{WAVEFORM-13:#" + s3, ST_OK, 3, 123.0},
            {"SAMPLES unclosed", "{CLOCK:5}{SAMPLES:3 #" + s3, ST_OK, 3, 5.0},
            {"count beyond file", "{SAMPLES:4}{CLOCK:5}#" + s3, ST_FILE1, 0, 0},
            {"count not a number", "{SAMPLES:x3}{CLOCK:5}#" + s3, ST_FILE1, 0, 0},
            {"huge count", "{SAMPLES:99999999999999}{CLOCK:5}#" + s3, ST_FILE1, 0, 0},
        };
        for (const auto& row : rows) {
            QVERIFY(writeFile(path("h.wv"), row.file));
            Rec r;
            r->Clock = 123;
            QVERIFY2(load(&r.r, kWvLoad, path("h.wv")) == row.st && r->N == row.n, row.name);
            QVERIFY2(row.st == ST_OK ? r->Clock == row.clock : !r->I && !r->Q, row.name);
            QVERIFY2(row.n != 3 || holds(r.r, {1, 2, 3}, {-1, -2, -3}), row.name);
        }
        QCOMPARE(LoadErrorText(ST_REFUSED, "x.wv"), QString("The file x.wv is scrambled. Load aborted."));
    }

    // The 3-sample recorder file: data bytes, header text, read-back.
    void rawThreeSamples()
    {
        Rec rec({1, 0, -0.5f}, {-1, 0, 0.5f}, 2e6), r;
        rec->RefLev = -10;
        rec->CFreq = 1e9;
        QCOMPARE(SaveVantorRaw(rec.r, path("rec.wvd")), ST_OK);
        // Negative values are stored 65536 below: -0.5 * 32767 + 0.5 - 65536.
        QCOMPARE(readFile(path("rec.wvd")), QByteArray::fromHex("ff7f0280 00000000 01c00040"));
        const QByteArray h = readFile(path("rec.wvh"));
        QVERIFY2(matches(h, "\\{TYPE:RAW16LE\\}\\{DATE:\\d+-\\d+-\\d+;\\d+:\\d+:\\d+\\}"
                            "\\{COPYRIGHT:2009 Halvard Vantor\\}\\{COMMENT:Orvex {19}\\}"
                            "\\{FWVERSION:4\\.10\\.04\\}\\{CLOCK:2000000\\.000000\\}\\{RESOLUTION:16\\}"
                            "\\{SAMPLES:3\\}\\{COMPONENTS:IQ\\}\\{REFLEVEL:-10\\.000\\}"
                            "\\{FREQUENCY:1000000000\\.0\\}"),
                 h.constData());
        QCOMPARE(load(&r.r, kRaw, path("rec.wvd")), ST_OK);
        QVERIFY(r->Clock == 2e6 && r->RefLev == -10.0f && r->CFreq == 1e9);
        QVERIFY(holds(r.r, Vf{1, 0, float((49153 - 65534.5) / 32767)}, Vf{float(-32764.5 / 32767), 0, float(16384 / 32767.0)}));
    }

    // The 10-byte data file holds two pairs. Header tags that are missing or
    // unreadable keep the load's values, with no frequency 0; a data file
    // without its ".wvh" does not load. The header sits beside the data file.
    void rawHeaderTags()
    {
        const struct { QByteArray data; const char* header; int32_t st; double clock; float ref; Vf i, q; } rows[] = {
            {QByteArray::fromHex("ff7f0080000000000102"), "{TYPE:RAW16LE}{CLOCK:1e5}", ST_OK, 1e5, -7, {1, 0},
             {float((32768 - 65534.5) / 32767), 0}},
            {QByteArray(8, '\0'), "{CLOCK:1 000}{REFLEVEL:-3}{FREQUENCY:2e9", ST_OK, 9, -3, {0, 0}, {0, 0}},
            {QByteArray(8, '\0'), nullptr, ST_FILE1, 0, 0, {}, {}},
        };
        for (const auto& c : rows) {
            QVERIFY(writeFile(path("t.x.wvd"), c.data));
            QVERIFY(c.header ? writeFile(path("t.x.wvh"), c.header) : QFile::remove(path("t.x.wvh")));
            Rec r;
            r->Clock = 9;
            r->RefLev = -7;
            r->CFreq = 55;
            QCOMPARE(load(&r.r, kRaw, path("t.x.wvd")), c.st);
            QVERIFY(holds(r.r, c.i, c.q));
            QVERIFY(c.st == ST_OK ? r->Clock == c.clock && r->RefLev == c.ref && r->CFreq == 0.0 : !r->I);
        }
        QCOMPARE(VantorHeaderName("/a.b/rec"), QString("/a.b/rec.wvh"));
    }

};

QTEST_GUILESS_MAIN(TstWav)
#include "tst_wav.moc"
