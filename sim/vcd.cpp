// SPDX-License-Identifier: MIT
#include "vcd.h"

#include <algorithm>
#include <string>

namespace tavrel_sim {

namespace {

constexpr unsigned kFselPins = 60;

struct Event {
    uint64_t ns;
    enum { kFsel, kSet, kClr, kDrive, kPud, kPudClk } what;
    unsigned index;  // word, bank or pin
    uint32_t value;
};

// Identifier codes from the printable range, as VCD wants.
std::string code(unsigned n)
{
    std::string s;
    do {
        s += static_cast<char>('!' + n % 94);
        n /= 94;
    } while (n);
    return s;
}

// The board as the model has it, replayed from the trace.
struct State {
    unsigned fsel[kFselPins];
    uint32_t latch[2], driven[2], driving[2];
    uint8_t pull[kPins];
    uint32_t pud, pudclk[2];

    bool level(unsigned pin) const
    {
        unsigned bank = pin / 32, bit = pin % 32;
        if (fsel[pin] == 1) return (latch[bank] >> bit) & 1;
        return input_level((driving[bank] >> bit) & 1, (driven[bank] >> bit) & 1, pull_of(pin));
    }
    unsigned pull_of(unsigned pin) const { return pin < kPins ? pull[pin] : kPullOff; }
    void apply(const Event& e)
    {
        uint32_t bit = 1u << (e.index % 32);
        switch (e.what) {
        case Event::kFsel:
            for (unsigned i = 0; i < 10 && e.index * 10 + i < kFselPins; ++i)
                fsel[e.index * 10 + i] = (e.value >> (3 * i)) & 7;
            break;
        case Event::kSet: latch[e.index] |= e.value; break;
        case Event::kClr: latch[e.index] &= ~e.value; break;
        case Event::kDrive:
            if (e.value == static_cast<uint32_t>(Drive::kRelease)) {
                driving[e.index / 32] &= ~bit;
                break;
            }
            driving[e.index / 32] |= bit;
            driven[e.index / 32] = e.value ? driven[e.index / 32] | bit : driven[e.index / 32] & ~bit;
            break;
        case Event::kPud: pud = e.value; break;
        case Event::kPudClk:
            latch_pulls(pull, e.index, e.value & ~pudclk[e.index], pud);
            pudclk[e.index] = e.value;
            break;
        }
    }
};

}  // namespace

BoardStart board_start(Board& board)
{
    BoardStart s;
    for (unsigned p = 0; p < kFselPins; ++p) s.fsel[p] = board.fsel(p);
    for (unsigned b = 0; b < 2; ++b) {
        s.latch[b] = board.latch(b);
        s.driven[b] = board.driven(b);
        s.driving[b] = board.driving(b);
        s.pudclk[b] = board.peek(GPPUDCLK0 + b);
    }
    for (unsigned p = 0; p < kPins; ++p) s.pull[p] = static_cast<uint8_t>(board.pull(p));
    s.pud = board.peek(GPPUD);
    return s;
}

namespace {

// The run's writes that change pins, and the schedule's drives, in time
// order.
std::vector<Event> events_of(const std::vector<TraceRecord>& trace, const std::vector<DriveEvent>& drives)
{
    std::vector<Event> events;
    for (const TraceRecord& r : trace) {
        if (r.kind != TraceRecord::kWrite || r.flags) continue;
        if (r.word <= 5) events.push_back({r.ns, Event::kFsel, r.word, r.value});
        if (r.word == GPSET0 || r.word == GPSET1)
            events.push_back({r.ns, Event::kSet, static_cast<unsigned>(r.word - GPSET0), r.value});
        if (r.word == GPCLR0 || r.word == GPCLR1)
            events.push_back({r.ns, Event::kClr, static_cast<unsigned>(r.word - GPCLR0), r.value});
        if (r.word == GPPUD) events.push_back({r.ns, Event::kPud, 0, r.value});
        if (r.word == GPPUDCLK0 || r.word == GPPUDCLK1)
            events.push_back({r.ns, Event::kPudClk, static_cast<unsigned>(r.word - GPPUDCLK0), r.value});
    }
    for (const DriveEvent& d : drives)
        events.push_back({d.ns, Event::kDrive, d.pin, static_cast<uint32_t>(d.drive)});
    std::stable_sort(events.begin(), events.end(),
                     [](const Event& a, const Event& b) { return a.ns < b.ns; });
    return events;
}

State state_of(const BoardStart& start)
{
    State state;
    std::copy(std::begin(start.fsel), std::end(start.fsel), state.fsel);
    std::copy(std::begin(start.latch), std::end(start.latch), state.latch);
    std::copy(std::begin(start.driven), std::end(start.driven), state.driven);
    std::copy(std::begin(start.driving), std::end(start.driving), state.driving);
    std::copy(std::begin(start.pull), std::end(start.pull), state.pull);
    std::copy(std::begin(start.pudclk), std::end(start.pudclk), state.pudclk);
    state.pud = start.pud;
    return state;
}

}  // namespace

std::vector<PinHistory> pin_histories(const BoardStart& start, const std::vector<TraceRecord>& trace,
                                      const std::vector<DriveEvent>& drives)
{
    State state = state_of(start);
    std::vector<PinHistory> history(kPins);
    for (unsigned p = 0; p < kPins; ++p) {
        history[p].functions.push_back(state.fsel[p]);
        history[p].pulls.push_back(state.pull_of(p));
    }
    for (const Event& e : events_of(trace, drives)) {
        State before = state;
        state.apply(e);
        for (unsigned p = 0; p < kPins; ++p) {
            PinHistory& h = history[p];
            if (state.fsel[p] != h.functions.back()) h.functions.push_back(state.fsel[p]);
            if (state.pull_of(p) != h.pulls.back()) h.pulls.push_back(state.pull_of(p));
            if (state.level(p) != before.level(p)) ++h.level_changes;
        }
    }
    return history;
}

bool write_vcd(FILE* out, const BoardStart& start, uint64_t t0_ns, const std::vector<TraceRecord>& trace,
               const std::vector<DriveEvent>& drives, const char* date, const char* version)
{
    std::vector<Event> events = events_of(trace, drives);

    // The pins the run touched: a function or latch it changed, or a level
    // driven onto it.
    State state = state_of(start);
    const State initial = state;
    bool touched[kFselPins] = {};
    for (const Event& e : events) {
        State before = state;
        state.apply(e);
        for (unsigned p = 0; p < kFselPins; ++p) {
            bool in_mask = (e.what == Event::kSet || e.what == Event::kClr) && p / 32 == e.index &&
                           ((e.value >> (p % 32)) & 1);
            if (before.fsel[p] != state.fsel[p] || in_mask || (e.what == Event::kDrive && e.index == p) ||
                before.pull_of(p) != state.pull_of(p))
                touched[p] = true;
        }
    }

    fprintf(out, "$date %s $end\n$version %s $end\n$timescale 1us $end\n$scope module gpio $end\n", date,
            version);
    for (unsigned p = 0; p < kFselPins; ++p) {
        if (!touched[p]) continue;
        fprintf(out, "$var wire 1 %s gpio%u $end\n", code(3 * p).c_str(), p);
        fprintf(out, "$var string 1 %s gpio%u_fn $end\n", code(3 * p + 1).c_str(), p);
        fprintf(out, "$var string 1 %s gpio%u_pull $end\n", code(3 * p + 2).c_str(), p);
    }
    fprintf(out, "$upscope $end\n$enddefinitions $end\n#0\n$dumpvars\n");
    state = initial;
    for (unsigned p = 0; p < kFselPins; ++p) {
        if (!touched[p]) continue;
        fprintf(out, "%d%s\ns%s %s\ns%s %s\n", state.level(p), code(3 * p).c_str(),
                function_name(state.fsel[p]), code(3 * p + 1).c_str(), pull_name(state.pull_of(p)),
                code(3 * p + 2).c_str());
    }
    fprintf(out, "$end\n");

    uint64_t last_us = 0;
    for (const Event& e : events) {
        State before = state;
        state.apply(e);
        uint64_t us = e.ns > t0_ns ? (e.ns - t0_ns) / 1000 : 0;
        bool stamped = false;
        for (unsigned p = 0; p < kFselPins; ++p) {
            if (!touched[p]) continue;
            bool level_changed = before.level(p) != state.level(p);
            bool fn_changed = before.fsel[p] != state.fsel[p];
            bool pull_changed = before.pull_of(p) != state.pull_of(p);
            if (!level_changed && !fn_changed && !pull_changed) continue;
            if (!stamped && us > last_us) {
                fprintf(out, "#%llu\n", static_cast<unsigned long long>(us));
                last_us = us;
            }
            stamped = true;
            if (fn_changed) fprintf(out, "s%s %s\n", function_name(state.fsel[p]), code(3 * p + 1).c_str());
            if (pull_changed) fprintf(out, "s%s %s\n", pull_name(state.pull_of(p)), code(3 * p + 2).c_str());
            if (level_changed) fprintf(out, "%d%s\n", state.level(p), code(3 * p).c_str());
        }
    }
    return !ferror(out);
}

}  // namespace tavrel_sim
