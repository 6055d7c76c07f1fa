// What the main window tests share: dialogs answered from a queue with every
// box recorded, a throw-away settings folder, and IQW files of known samples.
#pragma once

#include "app/prompts.h"
#include "formats/fileio.h"
#include "formats/iqdata.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <utility>
#include <vector>

// Answers file dialogs from a queue and records every box shown.
class FakePrompts : public Prompts {
public:
    struct Box {
        QString kind, title, text, info;
    };
    struct FileAsk {
        QString caption, dir, filter;
    };
    QStringList answers;
    QList<Box> boxes;
    QList<FileAsk> asked;

    void warning(QWidget*, const QString& t, const QString& x, const QString& i) override
    {
        boxes.append({"warning", t, x, i});
    }
    void critical(QWidget*, const QString& t, const QString& x) override { boxes.append({"critical", t, x, {}}); }
    void about(QWidget*, const QString& t, const QString& x) override { boxes.append({"about", t, x, {}}); }
    QString openFile(QWidget*, const QString& c, const QString& d, const QString& f) override
    {
        asked.append({c, d, f});
        return answers.isEmpty() ? QString() : answers.takeFirst();
    }
    QString saveFile(QWidget* p, const QString& c, const QString& d, const QString& f) override
    {
        return openFile(p, c, d, f);
    }
    void clear()
    {
        answers.clear();
        boxes.clear();
        asked.clear();
    }
};

// Settings go below a throw-away folder, never the user's own. Returns the
// configuration file the window reads and writes there.
inline QString UseSettingsHome(const QString& home)
{
    qputenv("XDG_DATA_HOME", home.toLocal8Bit());
    QCoreApplication::setApplicationName(QStringLiteral("OrvexMc"));
    const QString ini = home + QStringLiteral("/Halvard/OrvexMc/Orvex.ini");
    QDir().mkpath(QFileInfo(ini).path());
    return ini;
}

// Interleaved float32 I/Q, I = k * scale, Q = -k: what the IQW mixed reader
// takes. Returns the samples written.
inline std::pair<std::vector<float>, std::vector<float>> WriteIqw(const QString& path, int n, float scale = 1)
{
    std::vector<float> i(static_cast<size_t>(n)), q(static_cast<size_t>(n));
    std::vector<uint8_t> b(i.size() * 8);
    for (size_t k = 0; k < i.size(); ++k) {
        i[k] = float(k) * scale;
        q[k] = -float(k);
        io::putf32(&b[8 * k], i[k]);
        io::putf32(&b[8 * k + 4], q[k]);
    }
    const QByteArray bytes(reinterpret_cast<const char*>(b.data()), int(b.size()));
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return {i, q};
}

inline int TypeIndex(const TypStr* list, int count, const char* name)
{
    for (int i = 0; i < count; ++i)
        if (list[i].Name == QLatin1String(name))
            return i;
    return -1;
}
