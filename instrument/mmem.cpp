#include "mmem.h"
#include "hvvisa.h"

QList<MMEMFile> ParseCatalog(const QString& reply)
{
    QString rest = reply.trimmed();
    if (rest.isEmpty())
        return {};
    // Used and free bytes come first.
    for (int k = 0; k < 2; ++k)
        rest = rest.mid(rest.indexOf(QLatin1Char(',')) + 1);
    rest.remove(QLatin1Char('"'));
    const QStringList parts = rest.split(QLatin1Char(','));
    QList<MMEMFile> dirs, files;
    for (int k = 0; k + 2 < parts.size(); k += 3) {
        MMEMFile e;
        e.Name = parts[k].trimmed();
        e.IsDir = parts[k + 1].trimmed().contains(QLatin1String("DIR"));
        e.Size = e.IsDir ? -1 : parts[k + 2].trimmed().toLongLong();
        if (e.Name != QLatin1String("."))
            (e.IsDir ? dirs : files) << e;
    }
    return dirs + files;
}

bool GetDir(AnaStr* a, const QString& dir, QList<MMEMFile>* list, ViStatus* status)
{
    list->clear();
    QString reply;
    const ViStatus st = hvQueryf_s(a->Vi, QStringLiteral("MMEM:CAT? '%1'\n").arg(dir), &reply);
    if (status)
        *status = st;
    if (st != VI_SUCCESS)
        return false;
    *list = ParseCatalog(reply);
    return true;
}
