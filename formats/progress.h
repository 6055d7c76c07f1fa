// How long-running core work reports progress and learns of a cancel without
// knowing which front end runs it. The window implements Progress with a
// progress dialog, the command line with a terminal line; a cancel from
// either sets EscFlg, which the work polls through EscPressed.
#pragma once

#include <QString>
#include <cstdint>

class Progress {
public:
    virtual ~Progress() = default;
    virtual void begin(const QString& label, uint64_t total) = 0;
    virtual void step(uint64_t done) = 0;   // may process events and set EscFlg
    virtual void end() = 0;
};

// The front end installs its sink once; null means nobody is watching.
void SetProgress(Progress* sink);

// Reports one stretch of work. Nested scopes (an append reads and then
// writes) fold into the outermost one, so the front end sees one dialog.
class ProgressScope {
public:
    ProgressScope(const QString& label, uint64_t total);
    ~ProgressScope();
    ProgressScope(const ProgressScope&) = delete;
    ProgressScope& operator=(const ProgressScope&) = delete;
    // Reports done units; returns ST_CANCEL once EscFlg is set.
    int32_t step(uint64_t done);

private:
    bool outer_;
};

// Called by EscPressed at its 25000-sample cadence.
void ProgressTick(uint64_t index);
