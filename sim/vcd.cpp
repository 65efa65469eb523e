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

std::vector<unsigned> touched_pins(const BoardStart& start, const std::vector<TraceRecord>& trace,
                                   const std::vector<DriveEvent>& drives)
{
    // A function or latch the run changed, or a level driven onto it.
    State state = state_of(start);
    bool touched[kFselPins] = {};
    for (const Event& e : events_of(trace, drives)) {
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
    std::vector<unsigned> pins;
    for (unsigned p = 0; p < kFselPins; ++p)
        if (touched[p]) pins.push_back(p);
    return pins;
}

bool write_vcd(FILE* out, const BoardStart& start, uint64_t t0_ns, const std::vector<TraceRecord>& trace,
               const std::vector<DriveEvent>& drives, const char* date, const char* version)
{
    std::vector<Event> events = events_of(trace, drives);
    std::vector<unsigned> pins = touched_pins(start, trace, drives);

    // One-bit wires only, which every viewer reads: per pin its level, the
    // three bits of its function-select code and the two of its pull.
    constexpr unsigned kWires = 6;
    auto id = [](unsigned p, unsigned wire) { return code(kWires * p + wire); };
    fprintf(out, "$date %s $end\n$version %s $end\n$timescale 1us $end\n$scope module gpio $end\n", date,
            version);
    for (unsigned p : pins) {
        fprintf(out, "$var wire 1 %s gpio%u $end\n", id(p, 0).c_str(), p);
        for (unsigned b = 0; b < 3; ++b)
            fprintf(out, "$var wire 1 %s gpio%u_fn%u $end\n", id(p, 1 + b).c_str(), p, 2 - b);
        for (unsigned b = 0; b < 2; ++b)
            fprintf(out, "$var wire 1 %s gpio%u_pull%u $end\n", id(p, 4 + b).c_str(), p, 1 - b);
    }
    // The bits of `value` that `changed` marks, highest first, to the
    // `width` wires from `first` on.
    auto put_bits = [&](unsigned p, unsigned first, unsigned width, unsigned value, unsigned changed) {
        for (unsigned b = 0; b < width; ++b) {
            unsigned shift = width - 1 - b;
            if ((changed >> shift) & 1)
                fprintf(out, "%u%s\n", (value >> shift) & 1, id(p, first + b).c_str());
        }
    };
    fprintf(out, "$upscope $end\n$enddefinitions $end\n#0\n$dumpvars\n");
    State state = state_of(start);
    for (unsigned p : pins) {
        fprintf(out, "%d%s\n", state.level(p), id(p, 0).c_str());
        put_bits(p, 1, 3, state.fsel[p], ~0u);
        put_bits(p, 4, 2, state.pull_of(p), ~0u);
    }
    fprintf(out, "$end\n");

    uint64_t last_us = 0;
    for (const Event& e : events) {
        State before = state;
        state.apply(e);
        uint64_t us = e.ns > t0_ns ? (e.ns - t0_ns) / 1000 : 0;
        bool stamped = false;
        for (unsigned p : pins) {
            bool level_changed = before.level(p) != state.level(p);
            bool fn_changed = before.fsel[p] != state.fsel[p];
            bool pull_changed = before.pull_of(p) != state.pull_of(p);
            if (!level_changed && !fn_changed && !pull_changed) continue;
            if (!stamped && us > last_us) {
                fprintf(out, "#%llu\n", static_cast<unsigned long long>(us));
                last_us = us;
            }
            stamped = true;
            put_bits(p, 1, 3, state.fsel[p], state.fsel[p] ^ before.fsel[p]);
            put_bits(p, 4, 2, state.pull_of(p), state.pull_of(p) ^ before.pull_of(p));
            if (level_changed) fprintf(out, "%d%s\n", state.level(p), id(p, 0).c_str());
        }
    }
    return !ferror(out);
}

bool write_gtkw(FILE* out, const char* vcd_path, const std::vector<unsigned>& pins, const char* filters)
{
    fprintf(out, "[*] GTKWave save file from tavrel-sim: each pin's level, function and pull\n");
    fprintf(out, "[dumpfile] \"%s\"\n", vcd_path);
    for (unsigned p : pins) {
        // Binary for the level; the function and pull as vectors of their
        // bits, shown through the translate filters' names.
        fprintf(out, "@28\ngpio.gpio%u\n", p);
        fprintf(out,
                "@2022\n^1 %s/function.txt\n#{gpio%u_fn} gpio.gpio%u_fn2 gpio.gpio%u_fn1 gpio.gpio%u_fn0\n",
                filters, p, p, p, p);
        fprintf(out, "@2022\n^2 %s/pull.txt\n#{gpio%u_pull} gpio.gpio%u_pull1 gpio.gpio%u_pull0\n", filters,
                p, p, p);
    }
    return !ferror(out);
}

}  // namespace tavrel_sim
