#include "fileio.h"

#include "fileio_inject.h"

#include <QCryptographicHash>
#include <QDir>
#include <QTemporaryFile>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
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
            // Big reads bypass the buffer: one copy less for bulk sample data.
            // The rest of a big read that began inside the buffer goes direct
            // too, however short, or every later chunk would start inside a
            // fresh fill and be copied twice.
            if (n >= bcap_ / 2) {
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

namespace {

int injectIn = 0, injectErr = 0;

// True when the injected failure is due now (errno set to it).
bool injected()
{
    if (injectIn <= 0 || --injectIn > 0)
        return false;
    errno = injectErr;
    return true;
}

ssize_t doWrite(int fd, const void* p, size_t n)
{
    return injected() ? -1 : ::write(fd, p, n);
}
int doSync(int fd) { return injected() ? -1 : ::fsync(fd); }
int doRename(const char* a, const char* b) { return injected() ? -1 : std::rename(a, b); }

// A reader that went away must not end the program: SIGPIPE is held back
// for the one call and consumed if it came (also when the reader left after
// part of the bytes went through), so the write fails with EPIPE instead.
ssize_t writeNoPipeSignal(int fd, const void* p, size_t n)
{
    sigset_t pipe, old, pending;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, &old);
    const ssize_t r = doWrite(fd, p, n);
    const int e = errno;
    if (!sigismember(&old, SIGPIPE) && sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE)) {
        const timespec none{0, 0};
        sigtimedwait(&pipe, nullptr, &none);
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    errno = e;
    return r;
}

mode_t newFileMode()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

bool sameFile(int fd, const QByteArray& name)
{
    struct stat a, b;
    return ::fstat(fd, &a) == 0 && ::lstat(name.constData(), &b) == 0 && a.st_dev == b.st_dev
           && a.st_ino == b.st_ino && S_ISREG(b.st_mode);
}

} // namespace

namespace inject {
int failNth(int n, int err)
{
    const int left = injectIn;
    injectIn = n;
    injectErr = err;
    return left;
}
} // namespace inject

QString NameProblem(const QString& path)
{
    if (path.contains(QChar::ReplacementCharacter) || QFile::decodeName(QFile::encodeName(path)) != path)
        return QStringLiteral("the name holds characters that the system's encoding of file names cannot "
                              "represent");
    return QString();
}

QByteArray HiddenBeside(const QByteArray& target, const char* suffix)
{
    const int slash = target.lastIndexOf('/');
    const QByteArray dir = target.left(slash + 1), base = target.mid(slash + 1);
    QByteArray name = "." + base + suffix;
    if (name.size() > NAME_MAX) {
        const QByteArray hash = QCryptographicHash::hash(base, QCryptographicHash::Sha1).toHex().left(16);
        name = "." + base.left(NAME_MAX - 2 - hash.size() - int(std::strlen(suffix))) + "~" + hash + suffix;
    }
    return dir + name;
}

Writer::Writer(const QString& path) : path_(path) {}

Writer::~Writer() { cancel(); }

bool Writer::fail(int err, const QString& reason)
{
    if (ok_ || reason_.isEmpty())
        reason_ = reason.isEmpty() ? qt_error_string(err) : reason;
    ok_ = false;
    return false;
}

bool Writer::open()
{
    cancel();
    reason_.clear();
    ok_ = true;
    if (path_.isEmpty())
        return fail(ENOENT);
    if (const QString p = NameProblem(path_); !p.isEmpty())
        return fail(EINVAL, p);
    // The link chain is followed by hand: the temporary file must sit beside
    // the file finally replaced, and a dangling link names the file to create.
    QByteArray t = QFile::encodeName(path_);
    char link[PATH_MAX];
    for (int depth = 0;; ++depth) {
        const ssize_t n = ::readlink(t.constData(), link, sizeof link);
        if (n < 0)
            break;
        if (depth == 40 || size_t(n) == sizeof link)
            return fail(ELOOP);
        const QByteArray to(link, int(n));
        t = to.startsWith('/') ? to : t.left(t.lastIndexOf('/') + 1) + to;
    }
    target_ = t;
    struct stat st;
    const bool exists = ::stat(target_.constData(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode))
        return fail(EISDIR);
    direct_ = exists && !S_ISREG(st.st_mode);
    if (direct_) {
        // Opening a pipe waits for its reader, as any writer to it does.
        fd_ = ::open(target_.constData(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
        if (fd_ < 0)
            return fail(errno);
    } else if (!openTemp()) {
        return false;
    } else {
        // The mode is carried over; the owner cannot be, unless it is us.
        (void)::fchmod(fd_, exists ? st.st_mode & 07777 : newFileMode());
    }
    buf_.reset(new uint8_t[kChunk]);
    blen_ = 0;
    return ok_;
}

// The temporary file has one name per destination, so the next save removes
// what a killed one left. Whoever holds the advisory lock on it owns it: a
// file found unlocked is a leftover and is taken over (emptied, not removed,
// so that a racing save cannot lose a file it has just created), a locked one
// belongs to a save still running, which is then not disturbed.
bool Writer::openTemp()
{
    temp_ = HiddenBeside(target_, ".orvex-part");
    for (int tries = 0; tries < 8; ++tries) {
        bool created = true;
        fd_ = ::open(temp_.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd_ < 0 && errno == EEXIST) {
            created = false;
            fd_ = ::open(temp_.constData(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW);
            if (fd_ < 0 && errno == ENOENT)
                continue;
        }
        if (fd_ < 0)
            return fail(errno);
        if (::flock(fd_, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
            ::close(fd_);
            fd_ = -1;
            return fail(EBUSY, QStringLiteral("another save to this file is still running"));
        }
        if (created || (sameFile(fd_, temp_) && ::ftruncate(fd_, 0) == 0))
            return true;
        // Renamed or removed by its owner in the meantime: look again.
        ::close(fd_);
        fd_ = -1;
    }
    return fail(EBUSY, QStringLiteral("another save to this file is still running"));
}

void Writer::put(const uint8_t* src, size_t n)
{
    while (ok_ && n) {
        const ssize_t k = writeNoPipeSignal(fd_, src, n);
        if (k < 0 && errno == EINTR)
            continue;
        if (k <= 0) {
            fail(k < 0 ? errno : EIO);
            return;
        }
#ifdef SYNC_FILE_RANGE_WRITE
        // The save ends in a sync; starting the disk on each chunk now lets
        // it write while the next chunk is made, so less is left to wait for.
        if (!direct_)
            sync_file_range(fd_, written_, k, SYNC_FILE_RANGE_WRITE);
#endif
        written_ += k;
        src += k;
        n -= size_t(k);
    }
}

void Writer::flush()
{
    if (blen_ && ok_)
        put(buf_.get(), blen_);
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
            put(in, n);
            return;
        }
    }
    std::memcpy(buf_.get() + blen_, in, n);
    blen_ += n;
}

bool Writer::sync()
{
    flush();
    // File systems, pipes and devices that cannot sync (EINVAL) keep the
    // data all the same.
    if (ok_ && doSync(fd_) != 0 && errno != EINVAL)
        fail(errno);
    return ok_;
}

QString Writer::target() const
{
    return target_.isEmpty() ? path_ : QFile::decodeName(target_);
}

bool Writer::commit()
{
    if (!sync()) {
        cancel();
        return false;
    }
    if (!direct_ && doRename(temp_.constData(), target_.constData()) != 0) {
        fail(errno);
        cancel();
        return false;
    }
    // The lock goes only now, once the temporary name is free again.
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0 && direct_)
        return fail(errno);
    stage_.clear();
    return true;
}

void Writer::cancel()
{
    if (fd_ >= 0) {
        if (!direct_)
            ::unlink(temp_.constData());
        ::close(fd_);
        fd_ = -1;
    }
    if (!stage_.isEmpty() && direct_)
        QFile::remove(stage_);
    stage_.clear();
    ok_ = false;
}

QString Writer::stagingName()
{
    if (!ok_)
        return QString();
    if (!direct_)
        return stage_ = QFile::decodeName(temp_);
    // A device or pipe has no name to write to and then rename: the
    // library writes a private file, copied over by adopt().
    QTemporaryFile f(QDir::tempPath() + QStringLiteral("/orvex-XXXXXX"));
    f.setAutoRemove(false);
    if (!f.open()) {
        fail(f.error() == QFileDevice::NoError ? EIO : errno);
        return QString();
    }
    return stage_ = f.fileName();
}

bool Writer::adopt(int64_t size)
{
    if (!ok_ || stage_.isEmpty())
        return false;
    const int fd = direct_ ? ::open(QFile::encodeName(stage_).constData(), O_RDWR | O_CLOEXEC) : fd_;
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0)
        return fail(errno);
    if (st.st_size != size) {
        // Reserving the missing bytes tells whether the disk is full.
        const int e = st.st_size < size ? ::posix_fallocate(fd, 0, size) : 0;
        if (direct_)
            ::close(fd);
        return fail(e ? e : EIO, e ? QString() : QStringLiteral("%1 of %2 bytes were written").arg(qint64(st.st_size)).arg(size));
    }
    if (!direct_)
        return true;
    std::vector<uint8_t> b(std::min<size_t>(kChunk, size_t(size)));
    for (ssize_t k; ok_ && (k = ::read(fd, b.data(), b.size())) != 0;) {
        if (k < 0)
            fail(errno);
        else
            write(b.data(), size_t(k));
    }
    ::close(fd);
    QFile::remove(stage_);
    stage_.clear();
    return ok_;
}

int CommitBoth(const QString& firstTarget, const std::function<bool()>& first,
               const std::function<bool()>& second)
{
    const QByteArray target = QFile::encodeName(firstTarget);
    // A second link to the old first file keeps it without a moment in
    // which the destination is missing; where links are not possible it is
    // renamed away instead. Its name is fixed, so a killed save's leftover
    // is recognised: removed beside the file, put back in its absence.
    struct stat st;
    const QByteArray kept = HiddenBeside(target, ".orvex-old");
    if (::lstat(kept.constData(), &st) == 0) {
        if (::stat(target.constData(), &st) == 0)
            ::unlink(kept.constData());
        else
            std::rename(kept.constData(), target.constData());
    }
    const bool existed = ::stat(target.constData(), &st) == 0;
    // Only a plain file is replaced (a folder, a device or a pipe never is).
    if (existed && !S_ISREG(st.st_mode))
        return 1;
    bool moved = false;
    if (existed && ::link(target.constData(), kept.constData()) != 0) {
        if (doRename(target.constData(), kept.constData()) != 0)
            return 1;
        moved = true;
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
    // A device or pipe holds its bytes already and cannot take them back:
    // it ends first, and a plain file beside it is replaced only after that.
    if (a.direct() || b.direct()) {
        Writer* w[2] = {&a, &b};
        if (b.direct() && !a.direct())
            std::swap(w[0], w[1]);
        if (!w[0]->commit()) {
            w[1]->cancel();
            return w[0] == &a ? 1 : 2;
        }
        return w[1]->commit() ? 0 : w[1] == &a ? 1 : 2;
    }
    const int r = CommitBoth(a.target(), [&a] { return a.commit(); }, [&b] { return b.commit(); });
    if (r == 1) {
        if (a.ok())
            a.fail(EIO, QStringLiteral("the file it replaces cannot be kept until both are written"));
        a.cancel();
        b.cancel();
    }
    return r;
}

} // namespace io
