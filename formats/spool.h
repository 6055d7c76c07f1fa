// Input that is not a regular file (a pipe, a FIFO, a terminal, a device)
// can be read once only, has no size and cannot seek. Such input is copied
// into a private temporary folder first, so that every reader, and a copy
// that opens its source twice, works on it as on any file.
#pragma once

#include "iqdata.h"

#include <QByteArray>
#include <QString>
#include <vector>

class Spool {
public:
    Spool() = default;
    ~Spool();
    Spool(const Spool&) = delete;
    Spool& operator=(const Spool&) = delete;

    // Copies every name of rec that is not a regular file (or is one that
    // claims to be empty) and puts the copy's name in its place. ST_OK, ST_CANCEL, or ST_FILE1/ST_FILE2
    // with the reason when the input cannot be read or the copy written.
    int32_t take(IQDatStr* rec);
    // Gives rec its own names back and makes the last failure reason and
    // the load's notices name the user's files instead of the copies.
    void restore(IQDatStr* rec);

private:
    struct Entry {
        QString orig, copy, origDir, copyDir;
    };
    int32_t spool(const QString& path, int32_t err, QString* copy);
    QString rename(QString text) const;
    std::vector<Entry> entries_;
    std::vector<QByteArray> made_;  // created paths, removed in reverse order
};

// Removes the temporary copies now; only async-signal-safe calls, for a
// signal handler that ends the program at once.
void RemoveSpoolsNow();

// True when path names something other than a regular file, a folder or
// nothing at all: input that must be spooled.
bool IsSpecialInput(const QString& path);

// The system's reason why file cannot be opened for reading ("Permission
// denied", "Is a directory"); empty when it can.
QString InputReason(const QString& file);
