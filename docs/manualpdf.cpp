// Writes the user manual as a PDF: Markdown in, A4 pages out, with the images
// the text names taken from the Markdown file's folder.
//   orvex-manual-pdf MANUAL.md OUT.pdf
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPdfWriter>
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

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: orvex-manual-pdf MANUAL.md OUT.pdf\n");
        return 2;
    }
    QFile in(QString::fromLocal8Bit(argv[1]));
    if (!in.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "orvex-manual-pdf: %s: %s\n", argv[1], qPrintable(in.errorString()));
        return 1;
    }
    QTextDocument doc;
    doc.setBaseUrl(QUrl::fromLocalFile(QFileInfo(in).absolutePath() + QStringLiteral("/")));
    doc.setDefaultFont(QFont(QStringLiteral("Liberation Sans"), 10));
    doc.setMarkdown(QString::fromUtf8(in.readAll()));
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
