// Renders screenshots of the program for the documentation:
//   orvex-shoot SCENE OUT.png
// Each scene sets the window up through its widgets, answering its file
// dialogs itself, and names the widget to capture. Runs under any display
// (docs/screenshots.sh uses Xvfb); settings go to a throw-away folder.
#include "app/mainwindow.h"
#include "app/prompts.h"
#include "app/version.h"

#include <QApplication>
#include <QComboBox>
#include <QDataStream>
#include <QDoubleSpinBox>
#include <QFile>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPalette>
#include <QProcess>
#include <QTabWidget>
#include <QPushButton>
#include <QDir>
#include <QTemporaryDir>
#include <QTimer>
#include <qwt_plot.h>
#include <qwt_plot_zoomer.h>
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <random>

namespace {

// Answers every file dialog with the next prepared name.
class Scripted : public Prompts {
public:
    QStringList files;
    QString next() { return files.isEmpty() ? QString() : files.takeFirst(); }
    QString openFile(QWidget*, const QString&, const QString&, const QString&) override { return next(); }
    QString saveFile(QWidget*, const QString&, const QString&, const QString&, bool) override { return next(); }
    bool question(QWidget*, const QString&, const QString&) override { return true; }
    void warning(QWidget*, const QString& title, const QString& text, const QString&) override
    {
        std::fprintf(stderr, "orvex-shoot: %s: %s\n", qPrintable(title), qPrintable(text));
    }
};

// A short two-tone test signal as interleaved float32 I/Q.
void WriteIqw(const QString& path, int n)
{
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    QDataStream s(&f);
    s.setByteOrder(QDataStream::LittleEndian);
    s.setFloatingPointPrecision(QDataStream::SinglePrecision);
    for (int k = 0; k < n; ++k) {
        double a = 2 * M_PI * 0.05 * k, b = 2 * M_PI * 0.13 * k;
        s << float(0.6 * std::cos(a) + 0.2 * std::cos(b)) << float(0.6 * std::sin(a) + 0.2 * std::sin(b));
    }
}

// The graph test record: 8192 samples at 10 MHz, a tone on bin +1075
// (+1.312 MHz) and one 10 dB weaker on bin -2231 (-2.723 MHz), over white
// noise, as interleaved float32 I/Q.
void WriteTwoToneNoise(const QString& path)
{
    const int n = 8192;
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    QDataStream s(&f);
    s.setByteOrder(QDataStream::LittleEndian);
    s.setFloatingPointPrecision(QDataStream::SinglePrecision);
    std::mt19937 gen(7);
    std::normal_distribution<double> noise(0.0, 0.002);
    for (int k = 0; k < n; ++k) {
        const double a = 2 * M_PI * 1075 * k / n, b = -2 * M_PI * 2231 * k / n;
        const double i = 0.7 * std::cos(a) + 0.22 * std::cos(b) + noise(gen);
        const double q = 0.7 * std::sin(a) + 0.22 * std::sin(b) + noise(gen);
        s << float(i) << float(q);
    }
}

template <class T>
T* Find(QWidget* w, const char* name)
{
    return w->findChild<T*>(QString::fromLatin1(name));
}

struct Ctx {
    MainWindow* win;
    Scripted* ask;
    QString dir;
};

// Scene: the Load tab after loading an IQW file, with a save file chosen.
QWidget* SceneWindow(Ctx& c)
{
    const QString in = c.dir + QStringLiteral("/capture.iqw");
    WriteIqw(in, 100000);
    const int iqw = Find<QComboBox>(c.win, "Load_Typ")->findText(QStringLiteral("IQW mixed, iqiqiq"),
                                                               Qt::MatchStartsWith);
    Find<QComboBox>(c.win, "Load_Typ")->setCurrentIndex(iqw);
    c.ask->files << in;
    Find<QPushButton>(c.win, "Load_I")->click();
    Find<QPushButton>(c.win, "Load_Lod")->click();
    Find<QComboBox>(c.win, "Save_Typ")->setCurrentIndex(
        Find<QComboBox>(c.win, "Save_Typ")->findText(QStringLiteral("IQW mixed, iii"), Qt::MatchStartsWith));
    c.ask->files << c.dir + QStringLiteral("/capture_blocks.iqw");
    Find<QPushButton>(c.win, "Save_I")->click();
    return c.win;
}

// Scenes graph-*: the test record loaded at 10 MHz and the graph button
// pressed from the event loop. The dialog then runs modally, and a scene
// that returns no widget has the modal window captured.
QWidget* SceneGraph(Ctx& c, const char* button)
{
    const QString in = c.dir + QStringLiteral("/twotone.iqw");
    WriteTwoToneNoise(in);
    const int iqw = Find<QComboBox>(c.win, "Load_Typ")->findText(QStringLiteral("IQW mixed, iqiqiq"),
                                                               Qt::MatchStartsWith);
    Find<QComboBox>(c.win, "Load_Typ")->setCurrentIndex(iqw);
    c.ask->files << in;
    Find<QPushButton>(c.win, "Load_I")->click();
    Find<QDoubleSpinBox>(c.win, "Load_SRat")->setValue(10e6);
    Find<QPushButton>(c.win, "Load_Lod")->click();
    QTimer::singleShot(0, Find<QPushButton>(c.win, button), &QPushButton::click);
    return nullptr;
}

// Scene window-dark: the same under a dark desktop palette.
QWidget* SceneWindowDark(Ctx& c)
{
    QPalette dark;
    for (auto [role, colour] : {std::pair{QPalette::Window, QColor(45, 45, 48)}, {QPalette::WindowText, QColor(Qt::white)},
                                {QPalette::Base, QColor(30, 30, 30)}, {QPalette::Text, QColor(Qt::white)},
                                {QPalette::Button, QColor(60, 60, 64)}, {QPalette::ButtonText, QColor(Qt::white)},
                                {QPalette::Highlight, QColor(42, 130, 218)}, {QPalette::HighlightedText, QColor(Qt::white)}})
        dark.setColor(role, colour);
    QApplication::setPalette(dark);
    return SceneWindow(c);
}

// Scene graph-zoom: the spectrum zoomed onto the strong tone, the cursor on
// its peak so that the readout shows.
QWidget* SceneGraphZoom(Ctx& c)
{
    SceneGraph(c, "Spec");
    QTimer::singleShot(100, [] {
        QWidget* dialog = QApplication::activeModalWidget();
        auto* plot = dialog ? dialog->findChild<QwtPlot*>(QStringLiteral("plt")) : nullptr;
        auto* zoomer = plot ? plot->canvas()->findChild<QwtPlotZoomer*>() : nullptr;
        if (!zoomer)
            return;
        zoomer->zoom(QRectF(QPointF(1.2, -110), QPointF(1.45, 5)));
        const QPoint at(int(plot->transform(QwtPlot::xBottom, 1.3123)), int(plot->transform(QwtPlot::yLeft, -40)));
        QMouseEvent move(QEvent::MouseMove, at, plot->canvas()->mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(plot->canvas(), &move);
    });
    return nullptr;
}

// Scenes trace-*: the Trace tab after an Init against the instrument
// simulator built beside this program, serving the type on a free port.
QWidget* SceneTrace(Ctx& c, const QString& type)
{
    auto* sim = new QProcess(c.win);
    sim->start(QCoreApplication::applicationDirPath() + QStringLiteral("/orvex-instrument-sim"),
               {QStringLiteral("--type"), type, QStringLiteral("--socket"), QStringLiteral("0"),
                QStringLiteral("--stdin-exit")});
    QByteArray out;
    while (!out.contains("ready\n") && sim->waitForReadyRead(10000))
        out += sim->readAllStandardOutput();
    const QString port = QString::fromLatin1(out).section(QStringLiteral("socket 127.0.0.1:"), 1).section('\n', 0, 0);
    Find<QTabWidget>(c.win, "LodTrcIqr")->setCurrentIndex(1);
    auto* types = Find<QComboBox>(c.win, "Trace_DevTyp");
    types->setCurrentIndex(types->findText(type));
    auto* rsrc = Find<QLineEdit>(c.win, "Trace_VisaRS");
    rsrc->setText(QStringLiteral("TCPIP::127.0.0.1::%1::SOCKET").arg(port));
    emit rsrc->textEdited(rsrc->text());
    Find<QPushButton>(c.win, "Trace_Init")->click();
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, sim, [sim] {
        sim->closeWriteChannel();
        sim->waitForFinished(5000);
    });
    return c.win;
}

// Add scenes here: name -> set-up returning the widget to capture.
const std::map<QString, std::function<QWidget*(Ctx&)>> kScenes = {
    {QStringLiteral("window"), SceneWindow},
    {QStringLiteral("window-dark"), SceneWindowDark},
    {QStringLiteral("graph-zoom"), SceneGraphZoom},
    {QStringLiteral("graph-spectrum"), [](Ctx& c) { return SceneGraph(c, "Spec"); }},
    {QStringLiteral("graph-phase"), [](Ctx& c) { return SceneGraph(c, "GDel"); }},
    {QStringLiteral("graph-iq"), [](Ctx& c) { return SceneGraph(c, "IvsQ"); }},
    {QStringLiteral("trace-analyzer"), [](Ctx& c) { return SceneTrace(c, QStringLiteral("Ginkgo")); }},
    {QStringLiteral("trace-scope"), [](Ctx& c) { return SceneTrace(c, QStringLiteral("Zelkova")); }},
};

} // namespace

int main(int argc, char** argv)
{
    QTemporaryDir tmp;
    // Never touch the settings of whoever runs this.
    qputenv("XDG_DATA_HOME", tmp.path().toLocal8Bit());
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(ver::DisplayName);
    if (argc != 3 || !kScenes.count(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "usage: orvex-shoot SCENE OUT.png; scenes:");
        for (const auto& s : kScenes)
            std::fprintf(stderr, " %s", qPrintable(s.first));
        std::fprintf(stderr, "\n");
        return 2;
    }
    Scripted ask;
    SetPrompts(&ask);
    auto* win = new MainWindow;
    win->setWindowTitle(ver::WindowTitle());
    win->move(0, 0);
    win->show();
    // The files a scene loads live in a folder with a plain name, which the
    // window's file fields show.
    QDir demo(QDir::temp().filePath(QStringLiteral("orvex-demo")));
    demo.removeRecursively();
    demo.mkpath(QStringLiteral("."));
    Ctx c{win, &ask, demo.path()};
    QWidget* target = kScenes.at(QString::fromLocal8Bit(argv[1]))(c);
    int rc = 1;
    // Grab once the window has been laid out and painted.
    QTimer::singleShot(300, [&] {
        QWidget* w = target ? target : QApplication::activeModalWidget();
        rc = w && w->grab().save(QString::fromLocal8Bit(argv[2])) ? 0 : 1;
        // Ends a modal dialog's loop as well as the application's.
        app.quit();
    });
    app.exec();
    delete win;
    demo.removeRecursively();
    return rc;
}
