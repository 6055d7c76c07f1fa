#include "acquire.h"
#include "block.h"
#include "devtable.h"
#include "hvvisa.h"
#include "transfer.h"
#include "formats/binary.h"
#include "formats/progress.h"

#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

namespace {

constexpr double kSqrt005 = 0.22360679774997896;
constexpr double kKapokDiv = 0.18867924528301888;   // 1/5.3
constexpr unsigned kAfterCancelMs = 10000;

const char* const kInputs[] = {"RF", "AIQ", "DIQ"};
const char* const kInpTypes[] = {"REAL", "COMPLEX"};
const char* const kInpModes[] = {"BAS", "RFIF"};
const char* const kSbRf[] = {"INV", "NORM"};
const char* const kSbIf[] = {"NUPP", "NLOW", "IUPP", "ILOW"};

// A stored index outside its list takes the first word.
template <size_t N>
QLatin1String Word(const char* const (&list)[N], int32_t idx)
{
    return QLatin1String(list[idx >= 0 && size_t(idx) < N ? idx : 0]);
}

// Runs the configuration steps on one session; the first status that is
// not 0 sticks and every later step is skipped.
class Steps {
public:
    explicit Steps(unsigned vi) : vi_(vi) {}
    Steps& q(const QString& cmd)
    {
        if (st_ == VI_SUCCESS)
            st_ = hvQueryf_s(vi_, cmd, &reply_);
        return *this;
    }
    Steps& f(const QString& cmd, double* v)
    {
        if (st_ == VI_SUCCESS)
            st_ = hvQueryf_f(vi_, cmd, v);
        return *this;
    }
    Steps& i(const QString& cmd, int* v)
    {
        if (st_ == VI_SUCCESS)
            st_ = hvQueryf_i(vi_, cmd, v);
        return *this;
    }
    ViStatus st() const { return st_; }
    const QString& reply() const { return reply_; }

private:
    unsigned vi_;
    ViStatus st_ = VI_SUCCESS;
    QString reply_;
};

QString OnOff(bool on) { return on ? QStringLiteral("ON") : QStringLiteral("OFF"); }

int Analyzer(AnaStr* a, IQDatStr* d, const DevStr& row)
{
    const unsigned vi = a->Vi;
    const int32_t inp = a->IQInp;
    Steps s(vi);
    s.q(QStringLiteral("*CLS;*OPC?\n")).q(QStringLiteral("SYST:ERR:CLE:ALL;*OPC?\n"));
    if (row.does(kAcqNsel)) {
        int ch = 1;
        s.i(QStringLiteral("INST:NSEL?;*WAI\n"), &ch);
        if (s.st() == VI_SUCCESS && ch != 1)
            s.q(QStringLiteral("INST:NSEL 1;*OPC?\n"));
    }
    // Baseband inputs have no RF level to read back.
    if (!(row.does(kAcqBbNoLevel) && (inp == kInpAiq || inp == kInpDiq)))
        s.q(QStringLiteral("UNIT:POW DBM;*OPC?\n"))
            .f(QStringLiteral("DISP:TRAC:Y:RLEV?;*WAI\n"), &a->RefLev)
            .f(QStringLiteral("FREQ:CENT?;*WAI\n"), &a->CFreq)
            .f(QStringLiteral("INP:ATT?;*WAI\n"), &a->Att);

    double divisor = kSqrt005;
    if (a->Raw) {
        divisor = 1.0;
    } else if (row.does(kAcqDivDig)) {
        if (row.does(kAcqDivAiqUnity) && inp == kInpAiq)
            divisor = 1.0;
        if (inp == kInpDiq)
            divisor = a->DigRange / 2;
    } else if (row.does(kAcqDivBwid)) {
        s.f(QStringLiteral("BWID?\n"), &a->Rbw);
        divisor = kKapokDiv;
    }

    if (row.does(kAcqInpSel))
        s.q(QStringLiteral("INP:SEL %1;*OPC?\n").arg(Word(kInputs, inp)));
    else if (row.does(kAcqInpType))
        s.q(QStringLiteral("INP:TYPE INPUT%1;*OPC?\n").arg(inp == kInpRf2 ? 2 : 1));
    s.q(QStringLiteral("TRAC:IQ ON;*OPC?\n"));
    if (row.does(kAcqDiqInst) && inp == kInpDiq)
        s.q(QStringLiteral("INST IQ;*OPC?\n")).q(QStringLiteral("INP:SEL DIQ;*OPC?\n"));
    if (row.does(kAcqDiqCmds) && inp == kInpDiq)
        s.q(QStringLiteral("INP:DIQ:RANG %1;*OPC?\n").arg(ShortForm(a->DigRange)))
            .q(QStringLiteral("INP:DIQ:SRAT %1MHz;*OPC?\n").arg(ShortForm(a->DigSRate)));
    if (row.does(kAcqAiqCmds) && inp == kInpAiq)
        s.q(QStringLiteral("INP:IQ:BAL %1;*OPC?\n").arg(OnOff(a->Bal)))
            .q(QStringLiteral("INP:IQ:IMP %1;*OPC?\n").arg(a->HighImp ? "HIGH" : "LOW"))
            .q(QStringLiteral("IQ:DITH %1;*OPC?\n").arg(OnOff(a->Dith)))
            .q(QStringLiteral("IQ:LPAS %1;*OPC?\n").arg(OnOff(a->LowPass)))
            .q(QStringLiteral(":VOLT:IQ:RANG %1V;*OPC?\n").arg(ShortForm(a->AnaRange)))
            .q(QStringLiteral(":VOLT:IQ:RANG:OFFS %1dB;*OPC?\n").arg(ShortForm(a->AnaOfs)));
    if (row.does(kAcqIqp))
        s.q(QStringLiteral("TRAC:IQ:DATA:FORM IQP;*OPC?\n"));
    s.q(QStringLiteral("SYST:COMM:GPIB:RTER EOI;*OPC?\n"));
    if (row.does(kAcqRawSetup)) {
        s.q(QStringLiteral("TRAC:IQ:SET RAW,8MHz,%1Hz,%2,%3,%4ms,%5ms;*OPC?\n")
                .arg(IntForm(a->SRate), a->TrgMod, a->TrgSlp, ShortForm(a->TrgOfs), ShortForm(a->RecLen)));
    } else if (s.st() == VI_SUCCESS) {
        // An instrument that refuses the set-up still gets the data query;
        // the read then shows the failure.
        QString r;
        if (hvQueryf_s(vi, QStringLiteral("SYST:ERR?\n"), &r) == VI_SUCCESS) {
            d->N = a->Count;
            const QString setup = QStringLiteral("TRAC:IQ:SET NORM,%1Hz,%2Hz,%3,%4,%5,%6;*OPC?\n")
                                      .arg(IntForm(a->Rbw), IntForm(a->SRate), a->TrgMod, a->TrgSlp)
                                      .arg(a->PreTrg)
                                      .arg(qulonglong(a->Count));
            if (hvQueryf_s(vi, setup, &r) == VI_SUCCESS)
                hvQueryf_s(vi, QStringLiteral("SYST:ERR?\n"), &r);
        }
    }
    s.q(QStringLiteral("FORM REAL, 32;*OPC?\n"));
    if (s.st() != VI_SUCCESS)
        return s.st();
    const int st = ReadIQ(a, d, 3, divisor);
    if (st == ST_CANCEL)
        return st;
    hvPrintf(vi, QStringLiteral("TRAC:IQ OFF\n"));
    return st;
}

// The recording runs for its length; the front end stays painted and may
// cancel meanwhile.
int WaitRecording(double seconds)
{
    if (!(seconds > 0))
        return ST_OK;
    const qint64 total = qint64(std::min(seconds, 1e9) * 1000.0);
    ProgressScope ps(QStringLiteral("Recording IQ values..."), uint64_t(total));
    QElapsedTimer t;
    t.start();
    for (qint64 now = 0; now < total; now = t.elapsed()) {
        if (ps.step(uint64_t(now)) == ST_CANCEL || BrkFlg) {
            BrkFlg = 0;
            EscFlg = 0;
            return ST_CANCEL;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min<qint64>(20, total - now)));
    }
    return ST_OK;
}

int Handheld(AnaStr* a, IQDatStr* d)
{
    const unsigned vi = a->Vi;
    Steps s(vi);
    s.q(QStringLiteral("BAND %1Hz;*OPC?\n").arg(ShortForm(a->Rbw)))
        .q(QStringLiteral("DEM IQ;*OPC?\n"))
        .q(QStringLiteral("TRAC:REC:SOUR IQ;*OPC?\n"))
        .q(QStringLiteral("TRAC:REC:STOR FILE;*OPC?\n"))
        .q(QStringLiteral("TRAC:REC:STAR;*OPC?\n"));
    const int waited = WaitRecording(double(d->N) / a->SRate);
    if (s.st() != VI_SUCCESS)
        return s.st();
    s.q(QStringLiteral("TRAC:REC:STOP;*OPC?\n"));
    if (waited == ST_CANCEL)
        return ST_CANCEL;
    s.q(QStringLiteral("MMEM:CDIR '\\Storage Card\\Yew';*OPC?\n")).q(QStringLiteral("MMEM:CAT?\n"));
    if (s.st() != VI_SUCCESS)
        return s.st();
    const int at = s.reply().indexOf(QLatin1String("RecIQ"));
    if (at < 0) {
        SetDetail(QStringLiteral("The instrument's catalog lists no recording (RecIQ....riq)."));
        return kNoRecording;
    }
    const QString name = s.reply().mid(at, 9) + QStringLiteral(".riq");

    // The whole recording into a private folder; the original is deleted on
    // the instrument only once its copy has loaded.
    QTemporaryDir tmp;
    if (!tmp.isValid())
        return VI_ERROR_FILE_ACCESS;
    const QString local = tmp.filePath(name);
    ViStatus st = hvPrintf(vi, QStringLiteral("MMEM:DATA? '%1'\n").arg(name));
    BlockHdr h;
    if (st == VI_SUCCESS)
        st = ReadBlockHdr(vi, &h);
    if (st == VI_SUCCESS)
        st = ReadBlockToFile(vi, h, local);
    if (st != VI_SUCCESS)
        return st;
    const QString fileI = d->FileI;
    d->FileI = local;
    const int loaded = LoadYew(d, 0);
    // The copy goes with its folder; the record does not keep its name.
    d->FileI = fileI;
    if (loaded != ST_OK)
        return loaded;
    a->SRate = d->Clock;
    return s.q(QStringLiteral("MMEM:DEL %1;*OPC?\n").arg(name)).st();
}

int Scope(AnaStr* a, IQDatStr* d)
{
    const unsigned vi = a->Vi;
    const QString ch = QStringLiteral("CHAN%1").arg(a->OscCh);
    const bool real = a->InpTyp == 0;
    const bool rfif = a->InpTyp == 1 && a->InpMod == 1;
    Steps s(vi);
    s.q(QStringLiteral("*CLS;*OPC?\n"))
        .q(QStringLiteral("SYST:ERR:ALL?\n"))
        .q(QStringLiteral("IQ:STAT ON;*OPC?\n"))
        .q(QStringLiteral("%1:IQ:INPT %2;*OPC?\n").arg(ch, Word(kInpTypes, a->InpTyp)))
        .q(QStringLiteral("%1:IQ:INPM %2;*OPC?\n").arg(ch, Word(kInpModes, a->InpMod)))
        .q(QStringLiteral("IQ:RBW %1;*OPC?\n").arg(ShortForm(a->RelBw)))
        .q(QStringLiteral("IQ:SRAT %1Hz;*OPC?\n").arg(ShortForm(a->SRate)))
        .q(QStringLiteral("IQ:RLEN %1;*OPC?\n").arg(qulonglong(d->N)));
    if (real || rfif)
        s.q(QStringLiteral("%1:IQ:CFR %2;*OPC?\n").arg(ch, ShortForm(a->CFreq)));
    if (real)
        s.q(QStringLiteral("%1:IQ:SBRF %2;*OPC?\n").arg(ch, Word(kSbRf, a->SbRf)));
    if (rfif)
        s.q(QStringLiteral("%1:IQ:SBIF %2;*OPC?\n").arg(ch, Word(kSbIf, a->SbIf)));
    s.q(QStringLiteral("RUNS;*OPC?\n"));
    if (s.st() != VI_SUCCESS)
        return s.st();
    // A failed read is a failed trace: the record keeps its former samples,
    // which must not pass for the new ones.
    QVector<double> v;
    if (!ReadArray(vi, ch + QStringLiteral(":IQ:DATA?\n"), &v))
        return kNoBlock;
    const uint64_t n = uint64_t(v.size() / 2);
    if (MakeIQArr(d, n) != ST_OK) {
        d->N = 0;
        return VI_ERROR_ALLOC;
    }
    for (uint64_t k = 0; k < n; ++k) {
        d->I[k] = float(v[int(2 * k)]);
        d->Q[k] = float(v[int(2 * k + 1)]);
    }
    d->N = n;
    return VI_SUCCESS;
}

} // namespace

QString IntForm(double v)
{
    // Saturates instead of overflowing; the panel's limits stay far below.
    const double t = std::trunc(v);
    if (!(t > -9.2e18))
        return QStringLiteral("-9200000000000000000");
    return QString::number(t < 9.2e18 ? qint64(t) : qint64(9200000000000000000LL));
}

QString ShortForm(double v) { return QString::number(v, 'g', 6); }

int TracIQ(AnaStr* a, IQDatStr* d)
{
    BrkFlg = 0;
    if (!DevTypValid(a->DevTyp))
        return VI_ERROR_INV_PARAMETER;
    const DevStr& row = ag[a->DevTyp];
    switch (row.Tr.Family) {
    case DevFamily::Handheld:
        return Handheld(a, d);
    case DevFamily::Scope:
        return Scope(a, d);
    case DevFamily::Analyzer:
        break;
    }
    return Analyzer(a, d, row);
}

void TracIQCancelled(AnaStr* a)
{
    QString r;
    if (hvQueryf_s(a->Vi, QStringLiteral("TRAC:IQ OFF;*OPC?\n"), &r) == VI_SUCCESS) {
        if (hvPrintf(a->Vi, QStringLiteral("*RST;*CLS\n")) == VI_SUCCESS
            && hvPrintf(a->Vi, QStringLiteral("INIT:CONT ON\n")) == VI_SUCCESS)
            hvSetAttribute(a->Vi, VI_ATTR_TMO_VALUE, kAfterCancelMs);
    } else if (a->RsrcStr.contains(QLatin1String("GPIB"))) {
        hvGpibControlREN(a->Vi, VI_GPIB_REN_ADDRESS_GTL);
    }
}
