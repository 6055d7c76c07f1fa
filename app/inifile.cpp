#include "inifile.h"
#include "instrument/devtable.h"

#include <QRegularExpression>
#include <QSettings>
#include <QStringList>

namespace {

// Defaults that have no field default of their own to come from.
constexpr int kDefaultX = 100;
constexpr int kDefaultY = 100;
constexpr int kDefaultPort = 1000;
constexpr int kDefaultConnectTo = 1;      // WVSMITH2
constexpr int kDefaultLoadType = 23;      // the Wavesmith binary type, *.ibn
constexpr int kDefaultSaveType = 0;
// Written beside "IQ Carrier Frequency", which is read later and decides.
constexpr double kDefaultCenterFrequency = 1e9;
// The analog I/Q input cannot take more than this with high impedance.
constexpr double kHighImpMaxRange = 1.78;

} // namespace

QString SettingsFolder(const QString& dataLocation)
{
    const QStringList parts = dataLocation.split(QRegularExpression(QStringLiteral("[/\\\\]")));
    QString folder;
    for (int i = 0; i + 1 < parts.size(); ++i)
        folder += parts[i] + QLatin1Char('/');
    return folder + QStringLiteral("Halvard/") + parts.last();
}

void LoadIniFile(const QString& path, AnaStr* ana, IQDatStr* load, IQDatStr* save,
                 int* tcpPort, int* connectTo, int* x, int* y)
{
    const AnaStr d;
    const IQDatStr r;
    QSettings s(path, QSettings::IniFormat);

    *x = s.value(QStringLiteral("Position/x"), kDefaultX).toInt();
    *y = s.value(QStringLiteral("Position/y"), kDefaultY).toInt();

    s.beginGroup(QStringLiteral("Analyzer"));
    ana->DevTyp = s.value(QStringLiteral("Type"), d.DevTyp).toInt();
    // A type this version does not know would index past the type table.
    if (!DevTypValid(ana->DevTyp))
        ana->DevTyp = d.DevTyp;
    ana->RsrcStr = s.value(QStringLiteral("VISA Resource String"), d.RsrcStr).toString();
    ana->DatTyp = s.value(QStringLiteral("Data Type"), d.DatTyp).toString();
    ana->FltTyp = s.value(QStringLiteral("Filter Type"), d.FltTyp).toString();
    ana->CFreq = s.value(QStringLiteral("Center Frequency"), kDefaultCenterFrequency).toDouble();
    ana->RefLev = s.value(QStringLiteral("Reference Level"), d.RefLev).toDouble();
    ana->Att = s.value(QStringLiteral("Attenuation"), d.Att).toDouble();
    ana->Rbw = s.value(QStringLiteral("Resolution Bandwidth"), d.Rbw).toDouble();
    ana->RbwIdx = s.value(QStringLiteral("RBW Index"), d.RbwIdx).toInt();
    ana->SRate = s.value(QStringLiteral("Sample Rate"), d.SRate).toDouble();
    load->Clock = s.value(QStringLiteral("Load Sample Rate"), r.Clock).toDouble();
    ana->SRateIdx = s.value(QStringLiteral("Sample Rate Index"), d.SRateIdx).toInt();
    ana->TrgMod = s.value(QStringLiteral("Trigger Mode"), d.TrgMod).toString();
    ana->TrgModIdx = s.value(QStringLiteral("Trigger Mode Index"), d.TrgModIdx).toInt();
    ana->TrgSlp = s.value(QStringLiteral("Trigger Slope"), d.TrgSlp).toString();
    ana->TrgSlpIdx = s.value(QStringLiteral("Trigger Slope Index"), d.TrgSlpIdx).toInt();
    ana->TrgOfs = s.value(QStringLiteral("Trigger Offset"), d.TrgOfs).toDouble();
    ana->PreTrg = s.value(QStringLiteral("Pre Trigger Samples"), d.PreTrg).toInt();
    ana->RecLen = s.value(QStringLiteral("Record Length"), d.RecLen).toDouble();
    ana->OscRecLen = s.value(QStringLiteral("Osc. Rec Len"), quint64(d.OscRecLen)).toULongLong();
    ana->Count = s.value(QStringLiteral("Sample Count"), quint64(d.Count)).toULongLong();
    ana->IQInp = s.value(QStringLiteral("IQ Input"), d.IQInp).toInt();
    ana->Bal = s.value(QStringLiteral("Balanced"), d.Bal).toBool();
    ana->HighImp = s.value(QStringLiteral("Impedance"), d.HighImp).toBool();
    ana->Dith = s.value(QStringLiteral("Dithering"), d.Dith).toBool();
    ana->LowPass = s.value(QStringLiteral("Low Pass"), d.LowPass).toBool();
    ana->Raw = s.value(QStringLiteral("Raw IQ"), d.Raw).toBool();
    ana->Avg = s.value(QStringLiteral("Average"), d.Avg).toInt();
    ana->OscCh = s.value(QStringLiteral("Channel"), d.OscCh).toInt();
    ana->InpTyp = s.value(QStringLiteral("IQ Input Type"), d.InpTyp).toInt();
    ana->InpMod = s.value(QStringLiteral("IQ Input Mode"), d.InpMod).toInt();
    ana->RelBw = s.value(QStringLiteral("Relative Bandwidth"), d.RelBw).toDouble();
    ana->CFreq = s.value(QStringLiteral("IQ Carrier Frequency"), d.CFreq).toDouble();
    ana->SbRf = s.value(QStringLiteral("IQ Sideband RF"), d.SbRf).toInt();
    ana->SbIf = s.value(QStringLiteral("IQ Sideband IF"), d.SbIf).toInt();
    s.endGroup();

    s.beginGroup(QStringLiteral("Program"));
    load->SrcTab = s.value(QStringLiteral("IQ Source"), r.SrcTab).toInt();
    *tcpPort = s.value(QStringLiteral("TCP Port"), kDefaultPort).toInt();
    *connectTo = s.value(QStringLiteral("Connect To"), kDefaultConnectTo).toInt();
    load->Folder = s.value(QStringLiteral("Source Directory"), r.Folder).toString();
    load->Typ = s.value(QStringLiteral("Source File Type"), kDefaultLoadType).toInt();
    save->Folder = s.value(QStringLiteral("Destination Directory"), r.Folder).toString();
    save->Typ = s.value(QStringLiteral("Destination File Type"), kDefaultSaveType).toInt();
    s.endGroup();

    ana->DigRange = s.value(QStringLiteral("DigiIQ/Range"), d.DigRange).toDouble();
    ana->DigSRate = s.value(QStringLiteral("DigiIQ/Sample Rate"), d.DigSRate).toDouble();
    ana->AnaRange = s.value(QStringLiteral("AnaIQ/IQ Range"), d.AnaRange).toDouble();
    if (ana->HighImp && ana->AnaRange > kHighImpMaxRange)
        ana->AnaRange = kHighImpMaxRange;
    ana->AnaOfs = s.value(QStringLiteral("AnaIQ/IQ Offset"), d.AnaOfs).toDouble();

    // Released rather than just forgotten: a configuration loaded while data
    // is in memory must not leak it.
    FreeArr(load);
    FreeArr(save);
}

void SaveIniFile(const QString& path, AnaStr ana, IQDatStr load, IQDatStr save,
                 int tcpPort, int connectTo, int x, int y)
{
    QSettings s(path, QSettings::IniFormat);
    s.remove(QString());

    s.setValue(QStringLiteral("Position/x"), x);
    s.setValue(QStringLiteral("Position/y"), y);

    s.beginGroup(QStringLiteral("Analyzer"));
    s.setValue(QStringLiteral("Type"), ana.DevTyp);
    s.setValue(QStringLiteral("VISA Resource String"), ana.RsrcStr);
    s.setValue(QStringLiteral("Data Type"), ana.DatTyp);
    s.setValue(QStringLiteral("Filter Type"), ana.FltTyp);
    s.setValue(QStringLiteral("Center Frequency"), ana.CFreq);
    s.setValue(QStringLiteral("Reference Level"), ana.RefLev);
    s.setValue(QStringLiteral("Attenuation"), ana.Att);
    s.setValue(QStringLiteral("Resolution Bandwidth"), ana.Rbw);
    s.setValue(QStringLiteral("RBW Index"), ana.RbwIdx);
    s.setValue(QStringLiteral("Sample Rate"), ana.SRate);
    s.setValue(QStringLiteral("Load Sample Rate"), load.Clock);
    s.setValue(QStringLiteral("Sample Rate Index"), ana.SRateIdx);
    s.setValue(QStringLiteral("Trigger Mode"), ana.TrgMod);
    s.setValue(QStringLiteral("Trigger Mode Index"), ana.TrgModIdx);
    s.setValue(QStringLiteral("Trigger Slope"), ana.TrgSlp);
    s.setValue(QStringLiteral("Trigger Slope Index"), ana.TrgSlpIdx);
    s.setValue(QStringLiteral("Trigger Offset"), ana.TrgOfs);
    s.setValue(QStringLiteral("Pre Trigger Samples"), ana.PreTrg);
    s.setValue(QStringLiteral("Record Length"), ana.RecLen);
    // The file keeps 32-bit counts; readers of older files expect no more.
    s.setValue(QStringLiteral("Osc. Rec Len"), quint32(ana.OscRecLen));
    s.setValue(QStringLiteral("Sample Count"), quint32(ana.Count));
    s.setValue(QStringLiteral("IQ Input"), ana.IQInp);
    s.setValue(QStringLiteral("Balanced"), ana.Bal);
    s.setValue(QStringLiteral("Impedance"), ana.HighImp);
    s.setValue(QStringLiteral("Dithering"), ana.Dith);
    s.setValue(QStringLiteral("Low Pass"), ana.LowPass);
    s.setValue(QStringLiteral("Raw IQ"), ana.Raw);
    s.setValue(QStringLiteral("Average"), ana.Avg);
    s.setValue(QStringLiteral("Channel"), ana.OscCh);
    s.setValue(QStringLiteral("IQ Input Type"), ana.InpTyp);
    s.setValue(QStringLiteral("IQ Input Mode"), ana.InpMod);
    s.setValue(QStringLiteral("Relative Bandwidth"), ana.RelBw);
    s.setValue(QStringLiteral("IQ Carrier Frequency"), ana.CFreq);
    s.setValue(QStringLiteral("IQ Sideband RF"), ana.SbRf);
    s.setValue(QStringLiteral("IQ Sideband IF"), ana.SbIf);
    s.endGroup();

    s.beginGroup(QStringLiteral("Program"));
    s.setValue(QStringLiteral("IQ Source"), load.SrcTab);
    s.setValue(QStringLiteral("TCP Port"), tcpPort);
    s.setValue(QStringLiteral("Connect To"), connectTo);
    s.setValue(QStringLiteral("Source Directory"), load.Folder);
    s.setValue(QStringLiteral("Source File Type"), load.Typ);
    s.setValue(QStringLiteral("Destination Directory"), save.Folder);
    s.setValue(QStringLiteral("Destination File Type"), save.Typ);
    s.endGroup();

    s.setValue(QStringLiteral("DigiIQ/Range"), ana.DigRange);
    s.setValue(QStringLiteral("DigiIQ/Sample Rate"), ana.DigSRate);
    s.setValue(QStringLiteral("AnaIQ/IQ Range"), ana.AnaRange);
    s.setValue(QStringLiteral("AnaIQ/IQ Offset"), ana.AnaOfs);
}
