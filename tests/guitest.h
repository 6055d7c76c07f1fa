// What the widget tests share: dialogs answered from a queue with every box
// recorded, a throw-away settings folder, IQW files of known samples, and a
// main() like QTEST_MAIN's with a QApplication.
#pragma once

#include "app/prompts.h"
#include "testutil.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>

using testutil::TypeIndex;

// Answers file dialogs from a queue and records every box shown.
class FakePrompts : public Prompts {
public:
    struct Box {
        QString kind, title, text, info;
    };
    QStringList answers, filters;   // the filters of the file dialogs asked
    QList<Box> boxes;
    QList<Box> questions;    // asked apart from the boxes, answered with replace
    bool replace = true;

    void warning(QWidget*, const QString& t, const QString& x, const QString& i) override { boxes.append({"warning", t, x, i}); }
    void critical(QWidget*, const QString& t, const QString& x) override { boxes.append({"critical", t, x, {}}); }
    void about(QWidget*, const QString& t, const QString& x) override { boxes.append({"about", t, x, {}}); }
    QString openFile(QWidget*, const QString&, const QString&, const QString& f) override
    {
        filters << f;
        return answers.isEmpty() ? QString() : answers.takeFirst();
    }
    QString saveFile(QWidget* p, const QString& c, const QString& d, const QString& f, bool) override { return openFile(p, c, d, f); }
    bool question(QWidget*, const QString& t, const QString& x) override { return questions.append({"question", t, x, {}}), replace; }
    void clear() { *this = FakePrompts(); }
};

// Settings go below a throw-away folder, never the user's own. Returns the
// configuration file the window reads and writes there.
inline QString UseSettingsHome(const QString& home)
{
    qputenv("XDG_DATA_HOME", home.toLocal8Bit());
    QCoreApplication::setApplicationName("OrvexMc");
    const QString ini = home + "/Halvard/OrvexMc/Orvex.ini";
    QDir().mkpath(QFileInfo(ini).path());
    return ini;
}

// Interleaved float32 I/Q, I = k * scale, Q = -k: what the IQW mixed reader
// takes. Returns the samples written.
inline std::pair<testutil::Vf, testutil::Vf> WriteIqw(const QString& path, int n, float scale = 1)
{
    testutil::Vf i(static_cast<size_t>(n)), q(i.size());
    QByteArray b(8 * n, '\0');
    for (size_t k = 0; k < i.size(); ++k) {
        io::putf32(reinterpret_cast<uint8_t*>(b.data()) + 8 * k, i[k] = float(k) * scale);
        io::putf32(reinterpret_cast<uint8_t*>(b.data()) + 8 * k + 4, q[k] = -float(k));
    }
    if (!testutil::writeFile(path, b))
        qFatal("cannot write %s", qPrintable(path));
    return {i, q};
}

// The offscreen platform plugin never frees the screen and cursor it
// creates: not a leak of ours for the leak checker to report.
#if defined(__SANITIZE_ADDRESS__)
extern "C" const char* __lsan_default_suppressions() { return "leak:libqoffscreen\n"; }
#endif

// For a harness that ends the process in exit(): what it allocates is not
// what the test looks at.
#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#define ORVEX_LSAN_OFF __lsan::ScopedDisabler lsanOff
#else
#define ORVEX_LSAN_OFF
#endif

#define ORVEX_GUI_TEST_MAIN(TestObject)                                        \
    int main(int argc, char** argv)                                            \
    {                                                                          \
        QApplication app(argc, argv);                                          \
        app.setAttribute(Qt::AA_Use96Dpi, true);                               \
        TestObject tc;                                                         \
        return QTest::qExec(&tc, argc, argv);                                  \
    }
