#include "fileio.h"

#include <algorithm>

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
    if (f_.isOpen())
        f_.cancelWriting();
    f_.commit(); // discards the temporary file after cancelWriting()
    ok_ = false;
}

} // namespace io
