#include "sim/reply.h"

#include <algorithm>
#include <cstring>

namespace sim {

Pattern::Pattern(const std::vector<uint8_t>& period, size_t span)
    : period_(period.size()), span_(span)
{
    size_t copies = (period_ + span_) / period_ + 1;
    buf_.resize(copies * period_);
    for (size_t k = 0; k < copies; ++k)
        std::memcpy(buf_.data() + k * period_, period.data(), period_);
}

void Pattern::copy(uint64_t off, uint8_t* dst, size_t n) const
{
    std::memcpy(dst, buf_.data() + off % period_, std::min(n, span_));
}

void Reply::text(const std::string& s)
{
    if (s.empty())
        return;
    if (!segments.empty() && !segments.back().pattern) {
        segments.back().text += s;
        return;
    }
    Segment seg;
    seg.text = s;
    segments.push_back(std::move(seg));
}

void Reply::generated(std::shared_ptr<const Pattern> p, uint64_t start, uint64_t length)
{
    if (length == 0)
        return;
    Segment seg;
    seg.pattern = std::move(p);
    seg.start = start;
    seg.length = length;
    segments.push_back(std::move(seg));
}

uint64_t Reply::size() const
{
    uint64_t n = 0;
    for (const Segment& s : segments)
        n += s.size();
    return n;
}

uint64_t Reply::textSize() const
{
    uint64_t n = 0;
    for (const Segment& s : segments)
        n += s.text.size();
    return n;
}

void ReplyQueue::push(Reply r)
{
    if (r.empty())
        return;
    heldText_ += r.textSize();
    messages_.push_back(std::move(r));
    if (messages_.size() == 1) {
        segment_ = 0;
        offset_ = 0;
        consumed_ = 0;
        frontSize_ = messages_.front().size();
    }
}

void ReplyQueue::clear()
{
    messages_.clear();
    heldText_ = 0;
    segment_ = 0;
    offset_ = 0;
    consumed_ = 0;
    frontSize_ = 0;
}

size_t ReplyQueue::peek(uint8_t* dst, size_t n) const
{
    if (messages_.empty())
        return 0;
    const std::vector<Segment>& segs = messages_.front().segments;
    size_t done = 0;
    size_t s = segment_;
    uint64_t off = offset_;
    while (done < n && s < segs.size()) {
        const Segment& seg = segs[s];
        uint64_t left = seg.size() - off;
        if (seg.pattern) {
            size_t take = size_t(std::min<uint64_t>({left, n - done, seg.pattern->span()}));
            seg.pattern->copy(seg.start + off, dst + done, take);
            done += take;
            off += take;
        } else {
            size_t take = size_t(std::min<uint64_t>(left, n - done));
            std::memcpy(dst + done, seg.text.data() + off, take);
            done += take;
            off += take;
        }
        if (off == seg.size()) {
            ++s;
            off = 0;
        }
    }
    return done;
}

bool ReplyQueue::consume(size_t n)
{
    if (messages_.empty())
        return false;
    const std::vector<Segment>& segs = messages_.front().segments;
    consumed_ += n;
    uint64_t left = n;
    while (left > 0 && segment_ < segs.size()) {
        uint64_t take = std::min(left, segs[segment_].size() - offset_);
        offset_ += take;
        left -= take;
        if (offset_ == segs[segment_].size()) {
            ++segment_;
            offset_ = 0;
        }
    }
    if (consumed_ < frontSize_)
        return false;
    heldText_ -= messages_.front().textSize();
    messages_.pop_front();
    segment_ = 0;
    offset_ = 0;
    consumed_ = 0;
    frontSize_ = messages_.empty() ? 0 : messages_.front().size();
    return true;
}

} // namespace sim
