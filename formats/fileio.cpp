#include "fileio.h"

#include <QFileInfo>
#include <QRandomGenerator>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace io {

bool Reader::open(const QString& path)
{
    f_.setFileName(path);
    if (path.isEmpty() || !f_.open(QIODevice::ReadOnly))
        return false;
    size_ = f_.size();
    pos_ = 0;
    bpos_ = blen_ = 0;
    bcap_ = size_t(std::clamp<int64_t>(size_, 4096, int64_t(kChunk)));
    buf_.reset(new uint8_t[bcap_]);
    return true;
}

bool Reader::seek(int64_t p)
{
    if (p < 0)
        return false;
    // Inside the buffer: move the cursor without touching the file.
    int64_t bufStart = pos_ - int64_t(bpos_);
    if (p >= bufStart && p <= bufStart + int64_t(blen_)) {
        bpos_ = size_t(p - bufStart);
        pos_ = p;
        return true;
    }
    if (!f_.seek(p))
        return false;
    pos_ = p;
    bpos_ = blen_ = 0;
    return true;
}

bool Reader::fill()
{
    bpos_ = 0;
    qint64 got = f_.read(reinterpret_cast<char*>(buf_.get()), qint64(bcap_));
    blen_ = got > 0 ? size_t(got) : 0;
    return blen_ > 0;
}

size_t Reader::read(void* dst, size_t n)
{
    auto* out = static_cast<uint8_t*>(dst);
    size_t done = 0;
    while (done < n) {
        if (bpos_ == blen_) {
            // Big reads bypass the buffer: one copy less for bulk sample data,
            // also for the rest of a big read that began inside the buffer.
            if (n - done >= bcap_ / 2) {
                qint64 got = f_.read(reinterpret_cast<char*>(out + done), qint64(n - done));
                if (got <= 0)
                    break;
                done += size_t(got);
                pos_ += got;
                bpos_ = blen_ = 0;
                continue;
            }
            if (!fill())
                break;
        }
        size_t k = std::min(n - done, blen_ - bpos_);
        std::memcpy(out + done, buf_.get() + bpos_, k);
        bpos_ += k;
        done += k;
        pos_ += int64_t(k);
    }
    return done;
}

QByteArray Reader::readLine(size_t max)
{
    QByteArray line;
    while (line.size() + 1 < int(max)) {
        if (bpos_ == blen_ && !fill())
            break;
        uint8_t c = buf_[bpos_++];
        ++pos_;
        line.append(char(c));
        if (c == '\n')
            break;
    }
    return line;
}

Writer::Writer(const QString& path) : f_(path) {}

Writer::~Writer()
{
    if (f_.isOpen())
        f_.cancelWriting();
}

bool Writer::open()
{
    if (f_.fileName().isEmpty())
        return ok_ = false;
    // Direct writing would truncate the old file first; a failure half way
    // would then lose it, so the temporary file beside it is mandatory.
    f_.setDirectWriteFallback(false);
    ok_ = f_.open(QIODevice::WriteOnly);
    buf_.reset(new uint8_t[kChunk]);
    blen_ = 0;
    return ok_;
}

void Writer::flush()
{
    if (blen_ && ok_ && f_.write(reinterpret_cast<const char*>(buf_.get()), qint64(blen_)) != qint64(blen_))
        ok_ = false;
    blen_ = 0;
}

void Writer::write(const void* src, size_t n)
{
    if (!ok_)
        return;
    auto* in = static_cast<const uint8_t*>(src);
    if (blen_ + n >= kChunk) {
        flush();
        if (n >= kChunk) {
            if (ok_ && f_.write(reinterpret_cast<const char*>(in), qint64(n)) != qint64(n))
                ok_ = false;
            return;
        }
    }
    std::memcpy(buf_.get() + blen_, in, n);
    blen_ += n;
}

bool Writer::sync()
{
    flush();
    // File systems that cannot sync (EINVAL) keep the data all the same.
    if (ok_ && !(f_.flush() && (::fsync(int(f_.handle())) == 0 || errno == EINVAL)))
        ok_ = false;
    return ok_;
}

QString Writer::target() const
{
    // Links are followed the way the save file follows them when it opens.
    QFileInfo fi(f_.fileName());
    if (!fi.isSymLink())
        return f_.fileName();
    int depth = 128;
    while (--depth && fi.isSymLink())
        fi.setFile(fi.symLinkTarget());
    return depth > 0 ? fi.filePath() : f_.fileName();
}

bool Writer::commit()
{
    flush();
    if (!ok_) {
        cancel();
        return false;
    }
    return f_.commit();
}

void Writer::cancel()
{
    if (f_.isOpen()) {
        f_.cancelWriting();
        f_.commit(); // discards the temporary file after cancelWriting()
    }
    ok_ = false;
}

namespace {

// A name beside path that no file has yet, for which make(path, name)
// succeeded; empty when none could be found.
QByteArray besides(const QByteArray& path, int (*make)(const char*, const char*))
{
    for (int k = 0; k < 100; ++k) {
        const QByteArray name = path + ".old-" + QByteArray::number(QRandomGenerator::global()->generate(), 36);
        if (::access(name.constData(), F_OK) == 0)
            continue;
        if (make(path.constData(), name.constData()) == 0)
            return name;
        if (errno != EEXIST)
            break;
    }
    return QByteArray();
}

} // namespace

int CommitBoth(const QString& firstTarget, const std::function<bool()>& first,
               const std::function<bool()>& second)
{
    const QByteArray target = QFile::encodeName(firstTarget);
    // A second link to the old first file keeps it without a moment in
    // which the destination is missing; where links are not possible it is
    // renamed away instead.
    struct stat st;
    const bool existed = ::stat(target.constData(), &st) == 0;
    // Only a plain file is replaced (a folder, a device or a pipe never is).
    if (existed && !S_ISREG(st.st_mode))
        return 1;
    bool moved = false;
    QByteArray kept;
    if (existed) {
        kept = besides(target, ::link);
        if (kept.isEmpty()) {
            kept = besides(target, [](const char* a, const char* b) { return std::rename(a, b); });
            moved = !kept.isEmpty();
        }
        if (kept.isEmpty())
            return 1;
    }
    if (!first()) {
        if (moved)
            std::rename(kept.constData(), target.constData());
        else if (existed)
            ::unlink(kept.constData());
        return 1;
    }
    if (!second()) {
        if (existed)
            std::rename(kept.constData(), target.constData());
        else
            ::unlink(target.constData());
        return 2;
    }
    if (existed)
        ::unlink(kept.constData());
    return 0;
}

int CommitPair(Writer& a, Writer& b)
{
    const bool aOk = a.sync();
    const bool bOk = aOk && b.sync();
    if (!aOk || !bOk) {
        a.cancel();
        b.cancel();
        return aOk ? 2 : 1;
    }
    const int r = CommitBoth(a.target(), [&a] { return a.commit(); }, [&b] { return b.commit(); });
    if (r == 1) {
        a.cancel();
        b.cancel();
    }
    return r;
}

} // namespace io
