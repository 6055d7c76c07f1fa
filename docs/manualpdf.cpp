// Writes the user manual as a PDF: Markdown in, A4 pages out, with the images
// the text names taken from the Markdown file's folder.
//   orvex-manual-pdf MANUAL.md OUT.pdf
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPdfWriter>
#include <QRegularExpression>
#include <QScreen>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextImageFormat>
#include <QUrl>
#include <QVector>

#include <cstdio>

// The offscreen platform plugin never frees the screen it creates: not a
// leak of this tool for a sanitizer build to stop on.
#if defined(__SANITIZE_ADDRESS__)
extern "C" const char* __lsan_default_suppressions() { return "leak:libqoffscreen\n"; }
#endif

namespace {

// Widest image, in the 96-dpi pixels images are laid out in: what fits
// between the margins of an A4 page.
constexpr qreal kMaxImageWidth = 560;
constexpr qreal kMarginMM = 20;

// Every image must load (a misspelt name would only leave a blank in the
// PDF), and a screenshot wider than the text is scaled down to it.
bool fitImages(QTextDocument& doc)
{
    struct Scaled {
        int from, to;
        QTextImageFormat fmt;
    };
    QVector<Scaled> scaled;   // applied afterwards: a new format splits fragments
    bool ok = true;
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next()) {
        for (auto it = b.begin(); !it.atEnd(); ++it) {
            const QTextFragment f = it.fragment();
            if (!f.charFormat().isImageFormat())
                continue;
            QTextImageFormat fmt = f.charFormat().toImageFormat();
            const QImage img = doc.resource(QTextDocument::ImageResource, QUrl(fmt.name())).value<QImage>();
            if (img.isNull()) {
                std::fprintf(stderr, "orvex-manual-pdf: image %s cannot be read\n", qPrintable(fmt.name()));
                ok = false;
            } else if (img.width() > kMaxImageWidth) {
                fmt.setWidth(kMaxImageWidth);
                fmt.setHeight(img.height() * kMaxImageWidth / img.width());
                scaled.append({f.position(), f.position() + f.length(), fmt});
            }
        }
    }
    for (const Scaled& s : scaled) {
        QTextCursor c(&doc);
        c.setPosition(s.from);
        c.setPosition(s.to, QTextCursor::KeepAnchor);
        c.setCharFormat(s.fmt);
    }
    return ok;
}

QString readText(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "orvex-manual-pdf: %s: %s\n", qPrintable(path), qPrintable(f.errorString()));
        return QString();
    }
    return QString::fromUtf8(f.readAll());
}

// A line "<!-- include FILE: HEADING -->" stands for that section of FILE:
// the heading and what follows up to the next heading of its level or above.
// The manual thus prints the README's user sections instead of a copy that
// would drift. Relative links of the section are made absolute.
bool expandIncludes(QString& md, const QDir& dir)
{
    static const QRegularExpression inc(QStringLiteral("^<!-- include (\\S+): (.+) -->$"),
                                        QRegularExpression::MultilineOption);
    static const QRegularExpression link(QStringLiteral("\\]\\((?![a-z]+:|#|/)([^)]+)\\)"));
    bool ok = true;
    QString out;
    int from = 0;
    for (auto it = inc.globalMatch(md); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        out += md.mid(from, m.capturedStart() - from);
        from = m.capturedEnd();
        const QString file = dir.absoluteFilePath(m.captured(1));
        const QStringList lines = readText(file).split(QLatin1Char('\n'));
        int level = 0;
        QStringList section;
        for (const QString& l : lines) {
            const int h = l.startsWith(QLatin1Char('#')) ? l.indexOf(QLatin1Char(' ')) : 0;
            if (level && h > 0 && h <= level)
                break;
            if (!level && h > 0 && l.mid(h + 1) == m.captured(2))
                level = h;
            if (level)
                section << l;
        }
        if (!level) {
            std::fprintf(stderr, "orvex-manual-pdf: %s has no section \"%s\"\n", qPrintable(file),
                         qPrintable(m.captured(2)));
            ok = false;
        }
        const QString base = QFileInfo(file).absolutePath() + QLatin1Char('/');
        out += section.join(QLatin1Char('\n')).replace(link, QStringLiteral("](") + base + QStringLiteral("\\1)"));
    }
    md = out + md.mid(from);
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: orvex-manual-pdf MANUAL.md OUT.pdf\n");
        return 2;
    }
    const QFileInfo in(QString::fromLocal8Bit(argv[1]));
    QString md = readText(in.filePath());
    if (md.isEmpty() || !expandIncludes(md, in.absoluteDir()))
        return 1;
    QTextDocument doc;
    doc.setBaseUrl(QUrl::fromLocalFile(in.absolutePath() + QStringLiteral("/")));
    doc.setDefaultFont(QFont(QStringLiteral("Liberation Sans"), 10));
    doc.setMarkdown(md);
    if (!fitImages(doc))
        return 1;

    const QString out = QString::fromLocal8Bit(argv[2]);
    {
        QPdfWriter pdf(out);
        pdf.setTitle(QStringLiteral("Orvex"));
        pdf.setCreator(QStringLiteral("Orvex"));
        pdf.setPageSize(QPageSize(QPageSize::A4));
        pdf.setPageMargins(QMarginsF(0, 0, 0, 0));
        // Laid out in pages here rather than by print(), which would lay out
        // a copy that has lost the images loaded above. Page numbers go into
        // the bottom margin.
        const qreal dpi = QGuiApplication::primaryScreen()->logicalDotsPerInch();
        doc.setPageSize(QSizeF(pdf.widthMM(), pdf.heightMM()) * dpi / 25.4);
        doc.setDocumentMargin(kMarginMM * dpi / 25.4);
        doc.print(&pdf);
    }
    if (QFileInfo(out).size() == 0) {
        std::fprintf(stderr, "orvex-manual-pdf: %s could not be written\n", argv[2]);
        return 1;
    }
    return 0;
}
