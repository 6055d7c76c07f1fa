#include "copy.h"

int32_t CopyIQ(IQDatStr*, const QString&, int32_t)
{
    SetDetail(QStringLiteral("The streaming conversion is not available in this build."));
    return ST_UNSUPP;
}
