#include "progress.h"
#include "iqdata.h"

namespace {
Progress* sink = nullptr;
int depth = 0;
}

void SetProgress(Progress* s) { sink = s; }

ProgressScope::ProgressScope(const QString& label, uint64_t total)
    : outer_(depth++ == 0)
{
    if (outer_ && sink)
        sink->begin(label, total);
}

ProgressScope::~ProgressScope()
{
    --depth;
    if (outer_ && sink)
        sink->end();
}

int32_t ProgressScope::step(uint64_t done)
{
    if (outer_ && sink)
        sink->step(done);
    return EscFlg ? ST_CANCEL : ST_OK;
}

void ProgressTick(uint64_t index)
{
    if (depth > 0 && sink)
        sink->step(index);
}
