#include "copy.h"
#include "formats/stream.h"

int32_t CopyIQ(IQDatStr* rec, const QString& dest, int32_t destCode)
{
    return CopyDatFile(rec, dest, destCode);
}
