#include "vcd.h"

#include <algorithm>
#include <string>

namespace tavrel_sim {

namespace {

constexpr unsigned kFselPins = 60;

struct Event {
    uint64_t ns;
    enum { kFsel, kSet, kClr, kDrive } what;
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

struct State {
    unsigned fsel[kFselPins];
    uint32_t latch[2], driven[2];

    bool level(unsigned pin) const
    {
        const uint32_t* source = fsel[pin] == 1 ? latch : driven;
        return (source[pin / 32] >> (pin % 32)) & 1;
    }
    void apply(const Event& e)
    {
        switch (e.what) {
        case Event::kFsel:
            for (unsigned i = 0; i < 10 && e.index * 10 + i < kFselPins; ++i)
                fsel[e.index * 10 + i] = (e.value >> (3 * i)) & 7;
            break;
        case Event::kSet: latch[e.index] |= e.value; break;
        case Event::kClr: latch[e.index] &= ~e.value; break;
        case Event::kDrive:
            driven[e.index / 32] = e.value ? driven[e.index / 32] | (1u << (e.index % 32))
                                           : driven[e.index / 32] & ~(1u << (e.index % 32));
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
    }
    return s;
}

bool write_vcd(FILE* out, const BoardStart& start, uint64_t t0_ns, const std::vector<TraceRecord>& trace,
               const std::vector<DriveEvent>& drives, const char* date, const char* version)
{
    std::vector<Event> events;
    for (const TraceRecord& r : trace) {
        if (r.kind != TraceRecord::kWrite || r.flags) continue;
        if (r.word <= 5) events.push_back({r.ns, Event::kFsel, r.word, r.value});
        if (r.word == GPSET0 || r.word == GPSET1)
            events.push_back({r.ns, Event::kSet, static_cast<unsigned>(r.word - GPSET0), r.value});
        if (r.word == GPCLR0 || r.word == GPCLR1)
            events.push_back({r.ns, Event::kClr, static_cast<unsigned>(r.word - GPCLR0), r.value});
    }
    for (const DriveEvent& d : drives) events.push_back({d.ns, Event::kDrive, d.pin, d.high ? 1u : 0u});
    std::stable_sort(events.begin(), events.end(),
                     [](const Event& a, const Event& b) { return a.ns < b.ns; });

    // The pins the run touched: a function or latch it changed, or a level
    // driven onto it.
    State state;
    std::copy(std::begin(start.fsel), std::end(start.fsel), state.fsel);
    std::copy(std::begin(start.latch), std::end(start.latch), state.latch);
    std::copy(std::begin(start.driven), std::end(start.driven), state.driven);
    const State initial = state;
    bool touched[kFselPins] = {};
    for (const Event& e : events) {
        State before = state;
        state.apply(e);
        for (unsigned p = 0; p < kFselPins; ++p) {
            bool in_mask = (e.what == Event::kSet || e.what == Event::kClr) && p / 32 == e.index &&
                           ((e.value >> (p % 32)) & 1);
            if (before.fsel[p] != state.fsel[p] || in_mask || (e.what == Event::kDrive && e.index == p))
                touched[p] = true;
        }
    }

    fprintf(out, "$date %s $end\n$version %s $end\n$timescale 1us $end\n$scope module gpio $end\n", date,
            version);
    for (unsigned p = 0; p < kFselPins; ++p) {
        if (!touched[p]) continue;
        fprintf(out, "$var wire 1 %s gpio%u $end\n", code(2 * p).c_str(), p);
        fprintf(out, "$var string 1 %s gpio%u_fn $end\n", code(2 * p + 1).c_str(), p);
    }
    fprintf(out, "$upscope $end\n$enddefinitions $end\n#0\n$dumpvars\n");
    state = initial;
    for (unsigned p = 0; p < kFselPins; ++p) {
        if (!touched[p]) continue;
        fprintf(out, "%d%s\ns%s %s\n", state.level(p), code(2 * p).c_str(), function_name(state.fsel[p]),
                code(2 * p + 1).c_str());
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
            if (!level_changed && !fn_changed) continue;
            if (!stamped && us > last_us) {
                fprintf(out, "#%llu\n", static_cast<unsigned long long>(us));
                last_us = us;
            }
            stamped = true;
            if (fn_changed) fprintf(out, "s%s %s\n", function_name(state.fsel[p]), code(2 * p + 1).c_str());
            if (level_changed) fprintf(out, "%d%s\n", state.level(p), code(2 * p).c_str());
        }
    }
    return !ferror(out);
}

}  // namespace tavrel_sim
