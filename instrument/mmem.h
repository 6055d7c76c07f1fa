// Listing a folder of an instrument's mass memory.
#pragma once

#include "anastr.h"

#include <QList>
#include <QString>

struct MMEMFile {
    QString Name;
    bool IsDir = false;
    int64_t Size = -1;   // bytes; -1 for a directory
};

// Asks "MMEM:CAT? '<dir>'" on a->Vi and lists its entries, directories
// first, each group in catalog order, without ".". The list is emptied first;
// false when the query failed, its status then in *status when given.
bool GetDir(AnaStr* a, const QString& dir, QList<MMEMFile>* list, ViStatus* status = nullptr);
// The entries of a catalog reply: used and free bytes, then "name,type,size"
// texts in double quotes, all separated by commas.
QList<MMEMFile> ParseCatalog(const QString& reply);
