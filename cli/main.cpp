// orvex-cli: the window's file actions from a terminal, on the same core.
#include "formats/catalogue.h"
#include "formats/iqdata.h"
#include "formats/progress.h"
#include "formats/save.h"
#include "formats/spool.h"
#include "formats/stream.h"
#include "instrument/acquire.h"
#include "instrument/anaini.h"
#include "instrument/devlimits.h"
#include "instrument/devtable.h"
#include "instrument/hvvisa.h"
#include "instrument/mmem.h"
#include "remote/symbolserver.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSocketNotifier>
#include <QStringList>

#include <charconv>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <optional>
#include <unistd.h>

namespace {

constexpr int kFail = 1;
constexpr int kUsage = 2;

// What a file command's TYPE and an instrument command's DEV and options
// are; shown under the usage lines of the commands that take them.
const char* const kTypeNote = "TYPE is a list index, a display name or a file extension (see 'orvex-cli types').\n"
                              "A file of a one-file type may be '-': standard input for --from, standard output for --to.\n";
const char* const kDevNote =
    "DEV is an instrument type's index or name. Acquisition options:\n"
    "  --rbw HZ --srate HZ --count N --record-length MS --trigger WORD --slope WORD\n"
    "  --trigger-offset MS --pretrigger N --input RF|AIQ|DIQ --average N\n"
    "  --analog-range V --analog-offset DB --digital-range V --digital-srate MHZ\n"
    "  --channel N --rel-bw R --input-type REAL|COMPLEX --input-mode BAS|RFIF\n"
    "  --sideband-rf INV|NORM --sideband-if NUPP|NLOW|IUPP|ILOW --center-freq HZ\n"
    "  --raw --reset --balanced --high-impedance --dither --lowpass, each with a --no- form\n";

struct UsageError {
    QString text;
};

void err(const QString& s)
{
    std::fprintf(stderr, "orvex-cli: %s\n", s.toLocal8Bit().constData());
}

// One line on stderr for a failed operation: the window's message, the
// status code and the reason where one is known. A cancel is no error to
// explain, but it is not a success either.
int failed(int32_t st, const QString& message)
{
    const QString msg = st == ST_CANCEL ? QStringLiteral("Cancelled.") : message;
    const QString detail = LastDetail();
    err(QStringLiteral("%1 (status %2)%3").arg(msg).arg(st).arg(detail.isEmpty() ? QString() : ": " + detail));
    return kFail;
}

// A progress line on stderr, shown only when a person is watching.
class TermProgress : public Progress {
public:
    TermProgress() : tty_(isatty(2)) {}
    void begin(const QString& label, uint64_t total) override
    {
        label_ = label.toLocal8Bit();
        total_ = total;
        last_ = -1;
        step(0);
    }
    void step(uint64_t done) override
    {
        if (!tty_)
            return;
        int pct = total_ ? int(done * 100 / total_) : 0;
        if (pct == last_)
            return;
        last_ = pct;
        std::fprintf(stderr, "\r%s %3d%%", label_.constData(), pct);
        std::fflush(stderr);
    }
    void end() override
    {
        if (tty_)
            std::fprintf(stderr, "\r%*s\r", label_.size() + 6, "");
    }

private:
    bool tty_;
    QByteArray label_;
    uint64_t total_ = 0;
    int last_ = -1;
};

// The first SIGINT or SIGTERM asks the running operation to stop cleanly;
// should it still run a little later (a wait nothing polls), or should a
// second signal come, the program ends at once, its temporary copies of
// the input removed.
volatile sig_atomic_t endSignal = 0;
constexpr unsigned kGraceSeconds = 5;

extern "C" void endNow(int)
{
    RemoveSpoolsNow();
    static const char msg[] = "orvex-cli: Cancelled.\n";
    ssize_t r = write(2, msg, sizeof msg - 1);
    (void)r;
    _exit(128 + endSignal);
}

extern "C" void onInterrupt(int sig)
{
    if (endSignal)
        endNow(sig);
    endSignal = sig;
    EscFlg = 1;
    alarm(kGraceSeconds);
}

void catchSignals()
{
    struct sigaction sa = {};
    sa.sa_handler = onInterrupt;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sa.sa_handler = endNow;
    sigaction(SIGALRM, &sa, nullptr);
}

// Shortest text that reads back to the same value; plain digits (100000000,
// not 1e+08) across the range where people expect them.
template <class T>
QString number(T v)
{
    char buf[400];
    const T a = v < 0 ? -v : v;
    const bool plain = a == 0 || (a >= T(1e-4) && a < T(1e16));
    auto r = plain ? std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed)
                   : std::to_chars(buf, buf + sizeof buf, v);
    return QString::fromLatin1(buf, int(r.ptr - buf));
}

// A TYPE argument: index, display name (any case) or extension naming
// exactly one row of the list.
int resolveType(const QString& arg, const TypStr* list, int count, const char* what)
{
    bool isNum = false;
    int idx = arg.toInt(&isNum);
    if (isNum) {
        if (idx >= 0 && idx < count)
            return idx;
        throw UsageError{QStringLiteral("%1 type index %2 is outside 0..%3").arg(what).arg(idx).arg(count - 1)};
    }
    for (int i = 0; i < count; ++i)
        if (list[i].Name.compare(arg, Qt::CaseInsensitive) == 0)
            return i;
    QString ext = arg.startsWith('.') ? arg.mid(1) : arg;
    QList<int> hits;
    for (int i = 0; i < count; ++i) {
        const QString pat = QStringLiteral("*.") + ext;
        if (list[i].PatI.compare(pat, Qt::CaseInsensitive) == 0)
            hits << i;
    }
    if (hits.size() == 1)
        return hits[0];
    QStringList cands;
    for (int i : hits)
        cands << QStringLiteral("  %1  %2").arg(i).arg(list[i].Name);
    if (hits.isEmpty())
        throw UsageError{QStringLiteral("unknown %1 type \"%2\"; 'orvex-cli types' lists them").arg(what, arg)};
    throw UsageError{QStringLiteral("%1 type \"%2\" is ambiguous; candidates:\n%3")
                         .arg(what, arg, cands.join('\n'))};
}

// Options and positional arguments of one subcommand.
struct Args {
    QStringList from, to;          // TYPE followed by its file names
    std::optional<double> clock, reflevel;
    bool json = false, append = false, verbose = false;
    int guard = 0;
    int port = 1000, connectTo = 1;
    QStringList rest;

    static double toDouble(const QString& opt, const QString& v)
    {
        bool ok = false;
        double d = v.toDouble(&ok);
        if (!ok)
            throw UsageError{QStringLiteral("%1 takes a number, not \"%2\"").arg(opt, v)};
        return d;
    }
};

// The value after option a[i]; i moves onto it.
QString OptionValue(const QStringList& a, int& i)
{
    if (i + 1 >= a.size())
        throw UsageError{a[i] + QStringLiteral(" needs a value")};
    return a[++i];
}

Args parse(const QStringList& a, const QStringList& allowed)
{
    Args r;
    QStringList* target = &r.rest;
    auto value = [&](int& i) { return OptionValue(a, i); };
    for (int i = 0; i < a.size(); ++i) {
        const QString& s = a[i];
        if (s.startsWith(QStringLiteral("--")) && !allowed.contains(s))
            throw UsageError{QStringLiteral("unknown option ") + s};
        if (s == QLatin1String("--from")) {
            r.from = QStringList(value(i));
            target = &r.from;
        } else if (s == QLatin1String("--to")) {
            r.to = QStringList(value(i));
            target = &r.to;
        } else if (s == QLatin1String("--clock")) {
            r.clock = Args::toDouble(s, value(i));
            if (!std::isfinite(*r.clock) || *r.clock <= 0)
                throw UsageError{QStringLiteral("--clock takes a finite rate above 0 Hz")};
        } else if (s == QLatin1String("--reflevel")) {
            r.reflevel = Args::toDouble(s, value(i));
            if (!std::isfinite(*r.reflevel))
                throw UsageError{QStringLiteral("--reflevel takes a finite level")};
        } else if (s == QLatin1String("--verbose")) {
            r.verbose = true;
        } else if (s == QLatin1String("--json")) {
            r.json = true;
        } else if (s == QLatin1String("--append")) {
            r.append = true;
        } else if (s == QLatin1String("--guard")) {
            bool ok = false;
            r.guard = value(i).toInt(&ok);
            if (!ok || r.guard < 0 || r.guard > 99)
                throw UsageError{QStringLiteral("--guard takes a whole number from 0 to 99")};
        } else if (s == QLatin1String("--port")) {
            bool ok = false;
            r.port = value(i).toInt(&ok);
            if (!ok || r.port < 0 || r.port > 65535)
                throw UsageError{QStringLiteral("--port takes a whole number from 0 to 65535")};
        } else if (s == QLatin1String("--connect-to")) {
            const QString v = value(i);
            if (v != QLatin1String("0") && v != QLatin1String("1"))
                throw UsageError{QStringLiteral("--connect-to takes 0 or 1")};
            r.connectTo = v.toInt();
        } else {
            target->append(s);
        }
    }
    if (!r.rest.isEmpty())
        throw UsageError{QStringLiteral("unexpected argument \"%1\"").arg(r.rest.first())};
    return r;
}

// The name for '-': standard input to load from, standard output to write
// to. Everything else the program prints then goes to standard error.
QString standardStream(const TypStr& t, bool in)
{
    if (t.Files == 2)
        throw UsageError{QStringLiteral("\"%1\" keeps I and Q in two files; '-' stands for one-file types only")
                             .arg(t.Name)};
    if (TraitsOf(t.Code).sideHeader)
        throw UsageError{QStringLiteral("\"%1\" keeps a header file beside its data; '-' cannot stand for it")
                             .arg(t.Name)};
    if (fcntl(in ? 0 : 1, F_GETFD) == -1)
        throw UsageError{in ? QStringLiteral("'-': standard input is closed")
                            : QStringLiteral("'-': standard output is closed")};
    return in ? QStringLiteral("/dev/stdin") : QStringLiteral("/dev/stdout");
}

// What the load had to cut or fill, on standard error.
void tellNotices(const IQDatStr& rec)
{
    for (const QString& n : rec.Notices)
        err(n);
}

// Fills the record's type and file names from "TYPE FILE [QFILE]".
void bindFiles(IQDatStr* rec, const QStringList& files, const TypStr* list, int count,
               const char* what, bool deriveQ)
{
    if (files.size() < 2)
        throw UsageError{QStringLiteral("--%1 needs a TYPE and a file").arg(what)};
    rec->Typ = resolveType(files[0], list, count, what);
    const TypStr& t = list[rec->Typ];
    rec->FileI = files[1];
    rec->FileQ.clear();
    if (files.size() > 3)
        throw UsageError{QStringLiteral("--%1 takes at most two files").arg(what)};
    if (t.Files == 2) {
        if (files.size() == 3)
            rec->FileQ = files[2];
        else if (deriveQ)
            rec->FileQ = QNameFor(files[1]);
        else
            throw UsageError{QStringLiteral("\"%1\" keeps I and Q in two files: give both").arg(t.Name)};
    } else if (files.size() == 3) {
        throw UsageError{QStringLiteral("\"%1\" keeps I and Q in one file").arg(t.Name)};
    }
    if (files.mid(1).contains(QStringLiteral("-")))
        rec->FileI = standardStream(t, list == tl);
}

// Load IQ as the window's button does it: panel values first, the file's
// own values (where it has them) override them.
int load(IQDatStr* rec, const Args& a)
{
    rec->Clock = a.clock.value_or(1e8);
    rec->RefLev = float(a.reflevel.value_or(0.0));
    int32_t st = LoadDatFile(rec);
    if (st == ST_OK) {
        tellNotices(*rec);
        return 0;
    }
    return failed(st, LoadErrorText(st, rec->FileI));
}

int cmdTypes()
{
    auto print = [](const char* title, const TypStr* list, int count) {
        std::printf("%s\n", title);
        for (int i = 0; i < count; ++i)
            std::printf("%3d  %-28s %d  %-10s %s\n", i, list[i].Name.toUtf8().constData(), list[i].Files,
                        list[i].PatI.toUtf8().constData(),
                        list[i].PatQ.isEmpty() ? "-" : list[i].PatQ.toUtf8().constData());
    };
    print("load types:", tl, TL_COUNT);
    print("save types:", ts, TS_COUNT);
    return 0;
}

int cmdInfo(const QStringList& argv)
{
    Args a = parse(argv, {"--from", "--clock", "--reflevel", "--json"});
    IQDatStr rec;
    bindFiles(&rec, a.from, tl, TL_COUNT, "from", false);
    if (int rc = load(&rec, a))
        return rc;
    if (a.json) {
        QJsonObject o;
        o.insert("samples", double(rec.N));
        o.insert("clock", rec.Clock);
        o.insert("reflevel", double(rec.RefLev));
        o.insert("center_frequency", rec.CFreq);
        std::printf("%s\n", QJsonDocument(o).toJson(QJsonDocument::Compact).constData());
    } else {
        std::printf("samples: %llu\nclock: %s\nreflevel: %s\ncenter_frequency: %s\n",
                    (unsigned long long)rec.N, qPrintable(number(rec.Clock)),
                    qPrintable(number(rec.RefLev)), qPrintable(number(rec.CFreq)));
    }
    FreeArr(&rec);
    return 0;
}

int cmdConvert(const QStringList& argv)
{
    Args a = parse(argv, {"--from", "--to", "--clock", "--reflevel", "--append", "--guard"});
    IQDatStr dat, dst, sav;
    bindFiles(&dat, a.from, tl, TL_COUNT, "from", false);
    bindFiles(&sav, a.to, ts, TS_COUNT, "to", true);
    if (int rc = load(&dat, a))
        return rc;
    dst.FileI = sav.FileI;
    dst.FileQ = sav.FileQ;
    bool result = false;
    int32_t st = SaveDatFile(&dat, &dst, &sav, AnaStr{}, a.append, a.guard, &result);
    FreeArr(&dat);
    if (st == ST_OK)
        return 0;
    return failed(st, SaveErrorText(st, a.append));
}

// SIGINT/SIGTERM while serving: the handler only writes a byte into a pipe
// that the event loop watches.
int quitPipe[2] = {-1, -1};

extern "C" void onQuitSignal(int)
{
    char b = 1;
    ssize_t r = write(quitPipe[1], &b, 1);
    (void)r;
}

int cmdServe(const QStringList& argv)
{
    Args a = parse(argv, {"--from", "--port", "--connect-to", "--clock", "--verbose"});
    IQDatStr rec;
    bindFiles(&rec, a.from, tl, TL_COUNT, "from", false);
    if (int rc = load(&rec, a))
        return rc;
    // State as the window has it after a successful load. The samples never
    // change while serving, so the replies share them instead of copying.
    const ServeState st{true, rec.N > 0, rec.N, rec.Clock, a.connectTo};
    const SymbolData::Ptr data = SymbolData::adopt(&rec);

    SymbolServer srv;
    srv.setStateSource([st] { return st; });
    srv.setSymbolSource([data] { return data; });
    if (!srv.listen(quint16(a.port))) {
        err(QStringLiteral("cannot listen on 127.0.0.1:%1: %2").arg(a.port).arg(srv.errorString()));
        return kFail;
    }
    // Off by default: a line per connection into a pipe nobody reads would
    // block the server once the pipe is full.
    if (a.verbose) {
        QObject::connect(&srv, &SymbolServer::clientConnected, [] { err(QStringLiteral("client connected")); });
        QObject::connect(&srv, &SymbolServer::clientDisconnected, [] { err(QStringLiteral("client disconnected")); });
    }

    if (pipe(quitPipe) != 0) {
        err(QStringLiteral("cannot set up signal handling"));
        return kFail;
    }
    QSocketNotifier quit(quitPipe[0], QSocketNotifier::Read);
    QObject::connect(&quit, &QSocketNotifier::activated, qApp, &QCoreApplication::quit);
    std::signal(SIGINT, onQuitSignal);
    std::signal(SIGTERM, onQuitSignal);

    std::printf("listening on 127.0.0.1:%u\n", unsigned(srv.serverPort()));
    std::fflush(stdout);
    int rc = QCoreApplication::exec();
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    srv.close();
    quit.setEnabled(false);
    ::close(quitPipe[0]);
    ::close(quitPipe[1]);
    return rc;
}

// Copy IQ: the streaming conversion, with the panel values put into the
// load record first exactly as the window's button does.
int cmdCopy(const QStringList& argv)
{
    Args a = parse(argv, {"--from", "--to", "--clock", "--reflevel"});
    IQDatStr rec;
    bindFiles(&rec, a.from, tl, TL_COUNT, "from", false);
    if (a.to.size() != 2)
        throw UsageError{QStringLiteral("--to needs a TYPE and one file")};
    const int to = resolveType(a.to[0], ts, TS_COUNT, "to");
    const QString dest = a.to[1] == QLatin1String("-") ? standardStream(ts[to], false) : a.to[1];
    rec.Clock = a.clock.value_or(1e8);
    rec.RefLev = float(a.reflevel.value_or(0.0));
    const int32_t st = CopyDatFile(&rec, dest, ts[to].Code);
    if (st == ST_OK) {
        tellNotices(rec);
        return 0;
    }
    return failed(st, LastFailureWrote() ? SaveErrorText(st, false) : LoadErrorText(st, rec.FileI));
}

// ---------------------------------------------------------------- instruments

const char* const kVisaMissing = "VISA driver not installed.";
const char* const kNoRm = "Please install VISA Runtime driver.";
const char* const kIniError =
    "Initialization error. Check your connections and make sure\nyou have the correct GPIB or LAN address.";
const char* const kVisaError = "A VISA error has occured.";

// Options of trace and dir, taken as given and applied once the instrument
// type is known.
struct InstrArgs {
    QString device, resource;
    QMap<QString, QString> values;
    QMap<QString, bool> flags;
    QStringList to, rest;
    bool json = false;
};

const QStringList kValueOpts{"--rbw", "--srate", "--count", "--record-length", "--trigger", "--slope",
                             "--trigger-offset", "--pretrigger", "--input", "--average", "--analog-range",
                             "--analog-offset", "--digital-range", "--digital-srate", "--channel", "--rel-bw",
                             "--input-type", "--input-mode", "--sideband-rf", "--sideband-if", "--center-freq"};

struct FlagOpt {
    const char* name;
    bool AnaStr::*field;
};
const FlagOpt kFlagOpts[] = {{"raw", &AnaStr::Raw},          {"reset", &AnaStr::Rst},
                             {"balanced", &AnaStr::Bal},     {"high-impedance", &AnaStr::HighImp},
                             {"dither", &AnaStr::Dith},      {"lowpass", &AnaStr::LowPass}};

InstrArgs parseInstr(const QStringList& a, bool trace)
{
    InstrArgs r;
    QStringList* target = &r.rest;
    auto value = [&](int& i) { return OptionValue(a, i); };
    for (int i = 0; i < a.size(); ++i) {
        const QString& s = a[i];
        if (s == QLatin1String("--device")) {
            r.device = value(i);
        } else if (s == QLatin1String("--resource")) {
            r.resource = value(i);
        } else if (trace && s == QLatin1String("--to")) {
            r.to = QStringList(value(i));
            target = &r.to;
        } else if (trace && s == QLatin1String("--json")) {
            r.json = true;
        } else if (trace && kValueOpts.contains(s)) {
            r.values[s] = value(i);
        } else if (s.startsWith(QLatin1String("--"))) {
            const bool off = s.startsWith(QLatin1String("--no-"));
            const QString name = s.mid(off ? 5 : 2);
            const auto f = std::find_if(std::begin(kFlagOpts), std::end(kFlagOpts),
                                        [&](const FlagOpt& o) { return name == QLatin1String(o.name); });
            if (!trace || f == std::end(kFlagOpts))
                throw UsageError{QStringLiteral("unknown option ") + s};
            r.flags[name] = !off;
        } else {
            target->append(s);
        }
    }
    if (r.device.isEmpty() || r.resource.isEmpty())
        throw UsageError{QStringLiteral("--device and --resource are required")};
    return r;
}

int resolveDevice(const QString& arg)
{
    bool isNum = false;
    const int idx = arg.toInt(&isNum);
    if (isNum && DevTypValid(idx))
        return idx;
    for (int i = 0; i < AG_COUNT && !isNum; ++i)
        if (ag[i].Name.compare(arg, Qt::CaseInsensitive) == 0)
            return i;
    QStringList names;
    for (int i = 0; i < AG_COUNT; ++i)
        names << QStringLiteral("%1 %2").arg(i).arg(ag[i].Name);
    throw UsageError{QStringLiteral("unknown instrument type \"%1\"; one of: %2").arg(arg, names.join(", "))};
}

double numberArg(const QString& opt, const QString& v)
{
    return Args::toDouble(opt, v);
}

int64_t wholeArg(const QString& opt, const QString& v, int64_t lo, int64_t hi)
{
    bool ok = false;
    const qlonglong n = v.toLongLong(&ok);
    if (!ok || n < lo || n > hi)
        throw UsageError{QStringLiteral("%1 takes a whole number from %2 to %3").arg(opt).arg(lo).arg(hi)};
    return n;
}

// A word of a fixed list, any case, or its position.
int32_t wordArg(const QString& opt, const QString& v, const QStringList& words)
{
    for (int k = 0; k < words.size(); ++k)
        if (words[k].compare(v, Qt::CaseInsensitive) == 0 || v == QString::number(k))
            return k;
    throw UsageError{QStringLiteral("%1 takes one of %2").arg(opt, words.join('|'))};
}

// The list position of a value the type offers: its label or its number.
template <size_t N, typename V>
int32_t listArg(const QString& opt, const QString& v, int32_t count, const std::array<QString, N>& txt,
                const std::array<V, N>& val)
{
    bool isNum = false;
    const double d = v.toDouble(&isNum);
    QStringList offered;
    for (int32_t k = 0; k < count; ++k) {
        if (txt[k].compare(v, Qt::CaseInsensitive) == 0 || (isNum && double(val[k]) == d))
            return k;
        offered << txt[k];
    }
    throw UsageError{QStringLiteral("%1 takes one of %2 for this instrument").arg(opt, offered.join(", "))};
}

template <size_t N>
int32_t wordListArg(const QString& opt, const QString& v, int32_t count, const std::array<QString, N>& txt,
                    const std::array<QString, N>& scpi)
{
    for (int32_t k = 0; k < count; ++k)
        if (txt[k].compare(v, Qt::CaseInsensitive) == 0 || scpi[k].compare(v, Qt::CaseInsensitive) == 0)
            return k;
    QStringList offered;
    for (int32_t k = 0; k < count; ++k)
        offered << scpi[k];
    throw UsageError{QStringLiteral("%1 takes one of %2 for this instrument").arg(opt, offered.join(", "))};
}

// The options on top of the configuration file's defaults, as the panel
// would hold them before Init.
void applyOptions(const InstrArgs& r, AnaStr* a)
{
    const DevStr& row = ag[a->DevTyp];
    const bool scope = row.Tr.Family == DevFamily::Scope;
    for (auto it = r.values.begin(); it != r.values.end(); ++it) {
        const QString& o = it.key();
        const QString& v = it.value();
        if (o == "--rbw") {
            if (row.RbwCnt && !scope)
                a->RbwIdx = listArg(o, v, row.RbwCnt, row.RbwTxt, row.RbwVal);
            else
                a->Rbw = numberArg(o, v);
        } else if (o == "--srate") {
            if (row.SRateCnt && !scope)
                a->SRateIdx = listArg(o, v, row.SRateCnt, row.SRateTxt, row.SRateVal);
            else
                a->SRate = numberArg(o, v);
        } else if (o == "--count") {
            if (row.does(kCountByRecLen))
                throw UsageError{QStringLiteral("%1 takes --record-length; the count follows from it").arg(row.Name)};
            (scope ? a->OscRecLen : a->Count) = uint64_t(wholeArg(o, v, 0, INT64_MAX));
        } else if (o == "--record-length") {
            a->RecLen = numberArg(o, v);
        } else if (o == "--trigger") {
            a->TrgModIdx = wordListArg(o, v, row.TrgCnt, row.TrgTxt, row.TrgScpi);
        } else if (o == "--slope") {
            a->TrgSlpIdx = wordListArg(o, v, row.SlpCnt, row.SlpTxt, row.SlpScpi);
        } else if (o == "--trigger-offset") {
            a->TrgOfs = numberArg(o, v);
        } else if (o == "--pretrigger") {
            a->PreTrg = int32_t(wholeArg(o, v, INT32_MIN, INT32_MAX));
        } else if (o == "--input") {
            const int32_t code = wordArg(o, v, {"RF", "AIQ", "DIQ"});
            if (std::find(row.InpVal.begin(), row.InpVal.begin() + row.InpCnt, code) == row.InpVal.begin() + row.InpCnt)
                throw UsageError{QStringLiteral("%1 has no %2 input").arg(row.Name, v.toUpper())};
            a->IQInp = code;
        } else if (o == "--average") {
            a->Avg = int32_t(wholeArg(o, v, INT32_MIN, INT32_MAX));
        } else if (o == "--analog-range") {
            a->AnaRange = numberArg(o, v);
        } else if (o == "--analog-offset") {
            a->AnaOfs = numberArg(o, v);
        } else if (o == "--digital-range") {
            a->DigRange = numberArg(o, v);
        } else if (o == "--digital-srate") {
            a->DigSRate = numberArg(o, v);
        } else if (o == "--channel") {
            a->OscCh = int32_t(wholeArg(o, v, 0, osclim::ChMax));
        } else if (o == "--rel-bw") {
            a->RelBw = numberArg(o, v);
        } else if (o == "--input-type") {
            a->InpTyp = wordArg(o, v, {"REAL", "COMPLEX"});
        } else if (o == "--input-mode") {
            a->InpMod = wordArg(o, v, {"BAS", "RFIF"});
        } else if (o == "--sideband-rf") {
            a->SbRf = wordArg(o, v, {"INV", "NORM"});
        } else if (o == "--sideband-if") {
            a->SbIf = wordArg(o, v, {"NUPP", "NLOW", "IUPP", "ILOW"});
        } else if (o == "--center-freq") {
            a->CFreq = numberArg(o, v);
        }
    }
    for (const FlagOpt& f : kFlagOpts)
        if (r.flags.contains(QLatin1String(f.name)))
            a->*f.field = r.flags[QLatin1String(f.name)];
}

// VISA and Init as the window has them when Trace IQ becomes possible.
int openInstrument(AnaStr* a)
{
    if (!hvVisaDll_Init()) {
        err(QLatin1String(kVisaMissing));
        return kFail;
    }
    if (hvOpenDefaultRM(&a->Rm) < VI_SUCCESS) {
        err(QLatin1String(kNoRm));
        return kFail;
    }
    SetDetail(QString());
    const ViStatus st = AnaIni(a);
    if (st != VI_SUCCESS)
        return failed(st, QLatin1String(kIniError));
    return 0;
}

void closeInstrument(AnaStr* a)
{
    if (a->Vi)
        hvClose(a->Vi);
    hvClose(a->Rm);
}

void printTrace(const IQDatStr& rec, const AnaStr& a, bool json)
{
    if (json) {
        QJsonObject o;
        o.insert("samples", double(rec.N));
        o.insert("clock", a.SRate);
        o.insert("reflevel", a.RefLev);
        o.insert("center_frequency", a.CFreq);
        std::printf("%s\n", QJsonDocument(o).toJson(QJsonDocument::Compact).constData());
    } else {
        std::printf("samples: %llu\nclock: %s\nreflevel: %s\ncenter_frequency: %s\n", (unsigned long long)rec.N,
                    qPrintable(number(a.SRate)), qPrintable(number(a.RefLev)), qPrintable(number(a.CFreq)));
    }
}

int cmdTrace(const QStringList& argv)
{
    const InstrArgs r = parseInstr(argv, true);
    if (!r.rest.isEmpty())
        throw UsageError{QStringLiteral("unexpected argument \"%1\"").arg(r.rest.first())};
    AnaStr a;
    a.DevTyp = resolveDevice(r.device);
    a.RsrcStr = r.resource;
    applyOptions(r, &a);
    IQDatStr rec, dst, sav;
    if (!r.to.isEmpty())
        bindFiles(&sav, r.to, ts, TS_COUNT, "to", true);
    if (r.json && sav.FileI == QLatin1String("/dev/stdout"))
        throw UsageError{QStringLiteral("--json and --to - would both write to standard output")};

    if (int rc = openInstrument(&a))
        return rc;
    const QString refused = DevIniCheck(&a);
    if (!refused.isEmpty()) {
        closeInstrument(&a);
        err(refused);
        return kFail;
    }
    DevApply(&a, &rec);
    SetDetail(QString());
    const int st = TracIQ(&a, &rec);
    if (st == ST_CANCEL)
        TracIQCancelled(&a);
    closeInstrument(&a);
    if (st < 0) {
        FreeArr(&rec);
        return failed(st, QLatin1String(kVisaError));
    }
    if (r.to.isEmpty()) {
        printTrace(rec, a, r.json);
        FreeArr(&rec);
        return 0;
    }
    // Instrument data takes its count from the settings; the trace holds
    // what arrived, which may be fewer or, for a recording, another count.
    AnaStr held = a;
    held.Count = rec.N;
    dst.FileI = sav.FileI;
    dst.FileQ = sav.FileQ;
    bool result = false;
    const int32_t saved = SaveDatFile(&rec, &dst, &sav, held, false, 0, &result);
    FreeArr(&rec);
    if (saved != ST_OK)
        return failed(saved, SaveErrorText(saved, false));
    if (r.json)
        printTrace(rec, a, true);
    return 0;
}

int cmdDir(const QStringList& argv)
{
    const InstrArgs r = parseInstr(argv, false);
    if (r.rest.size() != 1)
        throw UsageError{QStringLiteral("dir takes one FOLDER")};
    AnaStr a;
    a.DevTyp = resolveDevice(r.device);
    a.RsrcStr = r.resource;
    if (int rc = openInstrument(&a))
        return rc;
    QList<MMEMFile> list;
    ViStatus st = VI_SUCCESS;
    const bool ok = GetDir(&a, r.rest.first(), &list, &st);
    closeInstrument(&a);
    if (!ok)
        return failed(st, QLatin1String(kVisaError));
    for (const MMEMFile& e : list)
        std::printf("%s\t%s\n", e.Name.toLocal8Bit().constData(),
                    e.IsDir ? "<DIR>" : QByteArray::number(qlonglong(e.Size)).constData());
    return 0;
}

// ---------------------------------------------------------------- dispatch

struct Command {
    const char* name;
    const char* synopsis;   // the usage line(s) after "orvex-cli "
    const char* note;       // what its TYPE or DEV arguments are
    int (*run)(const QStringList&);
};

const Command kCommands[] = {
    {"types", "types", "", [](const QStringList&) { return cmdTypes(); }},
    {"info", "info    --from TYPE FILE [QFILE] [--clock HZ] [--reflevel DBM] [--json]", kTypeNote, cmdInfo},
    {"convert",
     "convert --from TYPE IN [IN_Q] --to TYPE OUT [OUT_Q] [--clock HZ] [--reflevel DBM]\n"
     "                    [--append] [--guard N]",
     kTypeNote, cmdConvert},
    {"copy", "copy    --from TYPE IN --to TYPE OUT [--clock HZ] [--reflevel DBM]", kTypeNote, cmdCopy},
    {"serve", "serve   --from TYPE IN [IN_Q] [--port N] [--connect-to 0|1] [--clock HZ] [--verbose]", kTypeNote, cmdServe},
    {"trace", "trace   --device DEV --resource RS [acquisition options] [--to TYPE OUT [OUT_Q]] [--json]",
     kDevNote, cmdTrace},
    {"dir", "dir     --device DEV --resource RS FOLDER", kDevNote, cmdDir},
};

QString usage(const Command* only)
{
    QString s = QStringLiteral("usage:\n");
    for (const Command& c : kCommands)
        if (!only || only == &c)
            s += QStringLiteral("  orvex-cli %1\n").arg(QLatin1String(c.synopsis));
    if (only)
        return s + QLatin1String(only->note);
    return s + QStringLiteral("  orvex-cli --version\n  orvex-cli COMMAND --help\n") + QLatin1String(kTypeNote)
           + QLatin1String(kDevNote);
}

void print(FILE* to, const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), to);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.isEmpty() || args[0] == QLatin1String("--help") || args[0] == QLatin1String("-h")) {
        print(args.isEmpty() ? stderr : stdout, usage(nullptr));
        return args.isEmpty() ? kUsage : 0;
    }
    if (args[0] == QLatin1String("--version")) {
        std::printf("orvex-cli %s\n", ORVEX_VERSION);
        return 0;
    }
    const QString name = args.takeFirst();
    const Command* cmd = nullptr;
    for (const Command& c : kCommands)
        if (name == QLatin1String(c.name))
            cmd = &c;
    if (!cmd) {
        err(QStringLiteral("unknown command \"%1\"").arg(name));
        print(stderr, usage(nullptr));
        return kUsage;
    }
    // Asking for help anywhere after the command is not a usage error, however
    // incomplete the rest of the line is.
    if (args.contains(QLatin1String("--help")) || args.contains(QLatin1String("-h"))) {
        print(stdout, usage(cmd));
        return 0;
    }
    TermProgress progress;
    SetProgress(&progress);
    catchSignals();
    try {
        return cmd->run(args);
    } catch (const UsageError& e) {
        err(e.text);
        print(stderr, usage(cmd));
        return kUsage;
    }
}
