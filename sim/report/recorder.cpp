// SPDX-License-Identifier: MIT
#include "report/recorder.h"

#include "model/rp1.h"
#include "report/svg.h"
#include "report/vcd.h"

namespace tavrel_sim {

Recorder::Recorder(const BoardState& start, uint64_t t0_ns, FILE* body)
    : replay_(start), t0_ns_(t0_ns), body_(body), history_(kMaxPins)
{
    start_ = last_ = replay_.snapshot();
    for (unsigned p = 0; p < kMaxPins; ++p) {
        history_[p].functions.push_back(start_.fsel[p]);
        history_[p].pulls.push_back(start_.pull[p]);
    }
}

namespace {

// Appends `value` unless it is the last: the first kHistoryEntries, then
// a count.
void note(std::vector<unsigned>& list, unsigned* more, unsigned value, bool changed)
{
    if (!changed) return;
    if (list.size() < kHistoryEntries)
        list.push_back(value);
    else
        ++*more;
}

}  // namespace

void Recorder::take(const JournalEntry& e)
{
    replay_.apply(e);
    PinSnapshot now = replay_.snapshot();
    // A latch written, or a level driven, touches its pins even when
    // nothing changes.
    uint32_t named = 0;
    unsigned bank = 0;
    Rp1Register rp1 =
        is_rp1(last_.soc) && e.kind == JournalEntry::kWrite ? rp1_register(e.word * 4u) : Rp1Register{};
    if (rp1.kind == Rp1Register::kRioOut) {
        // The RP1's banks are not 32 pins each: its bits name pins from
        // the bank's first.
        for (unsigned i = 0; i < kRp1BankPins[rp1.bank].count; ++i)
            if (e.a >> i & 1) touched_[kRp1BankPins[rp1.bank].first + i] = true;
    } else if (e.kind == JournalEntry::kWrite && !is_rp1(last_.soc) &&
               (e.word == GPSET0 || e.word == GPSET1 || e.word == GPCLR0 || e.word == GPCLR1)) {
        named = e.a;
        bank = e.word == GPSET1 || e.word == GPCLR1;
    } else if (e.kind == JournalEntry::kDrive) {
        named = e.a | e.b | e.c;
        bank = e.bank;
    }
    uint64_t us = e.ns > t0_ns_ ? (e.ns - t0_ns_) / 1000 : 0;
    bool stamped = false;
    for (unsigned p = 0; p < kFselPins; ++p) {
        if (p / 32 == bank && ((named >> (p % 32)) & 1)) touched_[p] = true;
        record(p, now, us, &stamped);
    }
    last_ = now;
}

void Recorder::record(unsigned p, const PinSnapshot& now, uint64_t us, bool* stamped)
{
    bool fn = last_.fsel[p] != now.fsel[p], pull = last_.pull[p] != now.pull[p];
    bool level = last_.level[p] != now.level[p];
    if (fn || pull) touched_[p] = true;
    if (p < kMaxPins) {
        PinHistory& h = history_[p];
        note(h.functions, &h.more_functions, now.fsel[p], h.functions.back() != now.fsel[p] && fn);
        note(h.pulls, &h.more_pulls, now.pull[p], h.pulls.back() != now.pull[p] && pull);
        h.level_changes += level;
    }
    if (!body_ || !(fn || pull || level)) return;
    if (!*stamped && us > last_us_) {
        fprintf(body_, "#%llu\n", static_cast<unsigned long long>(us));
        last_us_ = us;
    }
    *stamped = true;
    write_vcd_changes(body_, p, last_, now);
}

std::vector<unsigned> Recorder::touched() const
{
    std::vector<unsigned> pins;
    for (unsigned p = 0; p < kFselPins; ++p)
        if (touched_[p]) pins.push_back(p);
    return pins;
}

bool Recorder::write_vcd(FILE* out, const char* date, const char* version)
{
    bool ok = write_vcd_header(out, touched(), start_, date, version);
    if (!body_ || fflush(body_) != 0 || fseek(body_, 0, SEEK_SET) != 0) return false;
    char buf[65536];
    size_t n;
    while (ok && (n = fread(buf, 1, sizeof buf, body_)) > 0) ok = fwrite(buf, 1, n, out) == n;
    return ok && !ferror(body_) && !ferror(out);
}

bool Recorder::write_svg(FILE* out, uint64_t end_us)
{
    return body_ &&
           tavrel_sim::write_svg(out, touched(), start_, body_, end_us < last_us_ ? last_us_ : end_us);
}

}  // namespace tavrel_sim
