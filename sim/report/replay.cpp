// SPDX-License-Identifier: MIT
#include "report/replay.h"

#include <algorithm>
#include <iterator>

namespace tavrel_sim {

BoardStart board_start(Board& board)
{
    BoardStart s;
    for (unsigned w = 0; w < kWords; ++w) s.regs[w] = board.peek(w);
    for (unsigned b = 0; b < kBanks; ++b) {
        s.latch[b] = board.latch(b);
        s.driven[b] = board.driven(b);
        s.driving[b] = board.driving(b);
    }
    for (unsigned p = 0; p < kPins; ++p) s.pull[p] = static_cast<uint8_t>(board.pull(p));
    return s;
}

std::vector<Step> steps_of(const std::vector<TraceRecord>& trace, const std::vector<DriveEvent>& drives)
{
    std::vector<Step> steps;
    for (const TraceRecord& r : trace)
        if (r.kind == TraceRecord::kWrite && !r.flags && r.word < kWords)
            steps.push_back({r.ns, false, r.word, r.value});
    for (const DriveEvent& d : drives) steps.push_back({d.ns, true, d.pin, static_cast<uint32_t>(d.drive)});
    std::stable_sort(steps.begin(), steps.end(), [](const Step& a, const Step& b) { return a.ns < b.ns; });
    return steps;
}

Replay::Replay(const BoardStart& start)
{
    std::copy(std::begin(start.regs), std::end(start.regs), regs_);
    std::copy(std::begin(start.latch), std::end(start.latch), latch_);
    std::copy(std::begin(start.driven), std::end(start.driven), driven_);
    std::copy(std::begin(start.driving), std::end(start.driving), driving_);
    std::copy(std::begin(start.pull), std::end(start.pull), pull_);
}

void Replay::apply(const Step& step)
{
    if (!step.is_drive) return write_register(pins(), step.index, step.value);
    uint32_t masks[3][kBanks] = {};  // by Drive: low, high, released
    masks[step.value % 3][step.index / 32 % kBanks] = 1u << (step.index % 32);
    drive_pins(pins(), masks[0], masks[1], masks[2]);
}

namespace {

PinSnapshot snapshot_of(const Pins& pins)
{
    PinSnapshot s;
    for (unsigned p = 0; p < kFselPins; ++p) {
        s.fsel[p] = static_cast<uint8_t>(function_of(pins, p));
        s.pull[p] = static_cast<uint8_t>(pull_of(pins, p));
        s.level[p] = level_of(pins, p);
    }
    return s;
}

}  // namespace

PinSnapshot Replay::snapshot()
{
    return snapshot_of(pins());
}

PinSnapshot board_snapshot(Board& board)
{
    Replay now(board_start(board));
    return now.snapshot();
}

std::vector<PinHistory> pin_histories(const BoardStart& start, const std::vector<TraceRecord>& trace,
                                      const std::vector<DriveEvent>& drives)
{
    Replay replay(start);
    PinSnapshot before = replay.snapshot();
    std::vector<PinHistory> history(kPins);
    for (unsigned p = 0; p < kPins; ++p) {
        history[p].functions.push_back(before.fsel[p]);
        history[p].pulls.push_back(before.pull[p]);
    }
    for (const Step& step : steps_of(trace, drives)) {
        replay.apply(step);
        PinSnapshot after = replay.snapshot();
        for (unsigned p = 0; p < kPins; ++p) {
            PinHistory& h = history[p];
            if (after.fsel[p] != h.functions.back()) h.functions.push_back(after.fsel[p]);
            if (after.pull[p] != h.pulls.back()) h.pulls.push_back(after.pull[p]);
            if (after.level[p] != before.level[p]) ++h.level_changes;
        }
        before = after;
    }
    return history;
}

std::vector<unsigned> touched_pins(const BoardStart& start, const std::vector<TraceRecord>& trace,
                                   const std::vector<DriveEvent>& drives)
{
    // A function or pull the run changed, a latch it wrote, or a level
    // driven onto it.
    Replay replay(start);
    PinSnapshot before = replay.snapshot();
    bool touched[kFselPins] = {};
    for (const Step& step : steps_of(trace, drives)) {
        replay.apply(step);
        PinSnapshot after = replay.snapshot();
        bool latch_write = !step.is_drive && (step.index == GPSET0 || step.index == GPSET1 ||
                                              step.index == GPCLR0 || step.index == GPCLR1);
        unsigned latch_bank = step.index == GPSET1 || step.index == GPCLR1;
        for (unsigned p = 0; p < kFselPins; ++p) {
            bool in_mask = latch_write && p / 32 == latch_bank && ((step.value >> (p % 32)) & 1);
            if (before.fsel[p] != after.fsel[p] || in_mask || (step.is_drive && step.index == p) ||
                before.pull[p] != after.pull[p])
                touched[p] = true;
        }
        before = after;
    }
    std::vector<unsigned> pins;
    for (unsigned p = 0; p < kFselPins; ++p)
        if (touched[p]) pins.push_back(p);
    return pins;
}

}  // namespace tavrel_sim
