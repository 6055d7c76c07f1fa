#include "spool.h"
#include "catalogue.h"
#include "codec.h"
#include "common/fdio.h"

#include <QDir>
#include <QFileInfo>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

// The copies a signal handler may have to remove, in fixed storage: the
// handler may neither allocate nor take locks.
constexpr int kSlots = 32;
constexpr size_t kPathMax = 4096;
char slotPath[kSlots][kPathMax];
volatile sig_atomic_t slotUsed[kSlots];

int claimSlot(const QByteArray& p)
{
    if (size_t(p.size()) >= kPathMax)
        return -1;
    for (int i = 0; i < kSlots; ++i)
        if (!slotUsed[i]) {
            std::memcpy(slotPath[i], p.constData(), size_t(p.size()) + 1);
            slotUsed[i] = 1;
            return i;
        }
    return -1;
}

void releaseSlot(const QByteArray& p)
{
    for (int i = 0; i < kSlots; ++i)
        if (slotUsed[i] && std::strcmp(slotPath[i], p.constData()) == 0) {
            slotUsed[i] = 0;
            return;
        }
}

// How often a wait for input looks at the cancel flag and lets the front
// end process its events.
constexpr int kPollMs = 100;

QString sysReason(int e) { return QString::fromLocal8Bit(std::strerror(e)); }

} // namespace

void RemoveSpoolsNow()
{
    // Files first, then the folders they were in.
    for (int i = 0; i < kSlots; ++i)
        if (slotUsed[i])
            ::unlink(slotPath[i]);
    for (int i = 0; i < kSlots; ++i)
        if (slotUsed[i])
            ::rmdir(slotPath[i]);
}

bool IsSpecialInput(const QString& path)
{
    struct stat st;
    if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &st) != 0)
        return false;
    return !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode);
}

QString InputReason(const QString& file)
{
    // Asked again after a failed open: the file object keeps no errno.
    const int fd = ::open(QFile::encodeName(file).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return sysReason(errno);
    struct stat st;
    const bool dir = ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode);
    ::close(fd);
    return dir ? sysReason(EISDIR) : QString();
}

Spool::~Spool()
{
    for (auto it = made_.rbegin(); it != made_.rend(); ++it) {
        releaseSlot(*it);
        if (::unlink(it->constData()) != 0)
            ::rmdir(it->constData());
    }
}

namespace {

// Special input, and files that call themselves empty: those of /proc and
// /sys have contents all the same. A truly empty file costs nothing to copy.
bool mustSpool(const QString& path)
{
    struct stat st;
    if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &st) != 0 || S_ISDIR(st.st_mode))
        return false;
    return !S_ISREG(st.st_mode) || st.st_size == 0;
}

} // namespace

int32_t Spool::take(IQDatStr* rec)
{
    const bool two = rec->Typ >= 0 && rec->Typ < TL_COUNT && tl[rec->Typ].Files == 2;
    int32_t st = ST_OK;
    if (mustSpool(rec->FileI))
        st = spool(rec->FileI, ST_FILE1, &rec->FileI);
    if (st == ST_OK && two && mustSpool(rec->FileQ))
        st = spool(rec->FileQ, ST_FILE2, &rec->FileQ);
    if (st == ST_CANCEL)
        EscFlg = 0;
    return st;
}

int32_t Spool::spool(const QString& path, int32_t err, QString* copy)
{
    const QFileInfo fi(path);
    auto fail = [&](const QString& what, int e) {
        return FailWith(err, why::withReason(path + what, e ? sysReason(e) : QString()));
    };
    QByteArray dir = QFile::encodeName(QDir::tempPath()) + "/orvex-input-XXXXXX";
    if (!::mkdtemp(dir.data()))
        return fail(QStringLiteral(" cannot be copied to the temporary folder"), errno);
    made_.push_back(dir);
    claimSlot(dir);
    const QString copyDir = QFile::decodeName(dir);
    const QString name = fi.fileName().isEmpty() ? QStringLiteral("input") : fi.fileName();
    const QByteArray out = QFile::encodeName(copyDir + QLatin1Char('/') + name);

    // Not blocking in open(): a FIFO without a writer would hold it there,
    // beyond the reach of Cancel.
    const int in = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (in < 0)
        return fail(QStringLiteral(" cannot be opened"), errno);
    const int o = ::open(out.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (o < 0) {
        const int e = errno;
        ::close(in);
        return fail(QStringLiteral(" cannot be copied to the temporary folder"), e);
    }
    made_.push_back(out);
    claimSlot(out);

    // An endless device would fill the disk: the copy may take most, not
    // all, of the space there is.
    struct statvfs vfs;
    uint64_t room = UINT64_MAX;
    if (::statvfs(dir.constData(), &vfs) == 0) {
        const uint64_t avail = uint64_t(vfs.f_bavail) * vfs.f_frsize;
        room = avail - avail / 16;
    }

    ProgressScope ps(ReadingLabel(), 0);
    std::unique_ptr<char[]> buf(new char[io::kChunk]);
    uint64_t done = 0;
    int32_t st = ST_OK;
    for (;;) {
        if ((st = ps.step(done)) != ST_OK)
            break;
        pollfd p{in, POLLIN, 0};
        const int ready = ::poll(&p, 1, kPollMs);
        if (ready < 0 && errno != EINTR) {
            st = fail(QStringLiteral(" cannot be read"), errno);
            break;
        }
        if (ready <= 0)
            continue;
        const ssize_t got = ::read(in, buf.get(), io::kChunk);
        if (got < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (got < 0) {
            st = fail(QStringLiteral(" cannot be read"), errno);
            break;
        }
        if (got == 0)
            break;
        if (done + uint64_t(got) > room) {
            st = FailWith(err, why::withReason(path + QStringLiteral(" cannot be copied to the temporary folder"),
                                               QStringLiteral("it holds more than the %1 bytes free there")
                                                   .arg(room)));
            break;
        }
        if (!fdio::writeAll(o, buf.get(), size_t(got))) {
            st = fail(QStringLiteral(" cannot be copied to the temporary folder"), errno);
            break;
        }
        done += uint64_t(got);
    }
    ::close(in);
    if (::close(o) != 0 && st == ST_OK)
        st = fail(QStringLiteral(" cannot be copied to the temporary folder"), errno);
    if (st != ST_OK)
        return st;

    // Files that belong with the input by name (a header beside its data)
    // are found beside the copy too.
    const QString base = fi.completeBaseName() + QLatin1Char('.');
    const QDir origDir = fi.absoluteDir();
    for (const QFileInfo& side : origDir.entryInfoList(QDir::Files | QDir::Hidden | QDir::System)) {
        if (!side.fileName().startsWith(base) || side.fileName() == name)
            continue;
        const QByteArray link = QFile::encodeName(copyDir + QLatin1Char('/') + side.fileName());
        if (::symlink(QFile::encodeName(side.absoluteFilePath()).constData(), link.constData()) == 0) {
            made_.push_back(link);
            claimSlot(link);
        }
    }
    entries_.push_back({path, QFile::decodeName(out), fi.path(), copyDir});
    *copy = QFile::decodeName(out);
    return ST_OK;
}

QString Spool::rename(QString text) const
{
    for (const Entry& e : entries_) {
        text.replace(e.copy, e.orig);
        text.replace(e.copyDir, e.origDir);
    }
    return text;
}

void Spool::restore(IQDatStr* rec)
{
    if (entries_.empty())
        return;
    for (const Entry& e : entries_) {
        if (rec->FileI == e.copy)
            rec->FileI = e.orig;
        if (rec->FileQ == e.copy)
            rec->FileQ = e.orig;
    }
    SetDetail(rename(LastDetail()));
    for (QString& n : rec->Notices)
        n = rename(n);
}
