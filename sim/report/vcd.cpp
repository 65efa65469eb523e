// SPDX-License-Identifier: MIT
#include "report/vcd.h"

#include <string>

namespace tavrel_sim {

namespace {

// One-bit wires only, which every viewer reads: per pin its level, the
// three bits of its function-select code and the two of its pull. An RP1
// board's function codes take a fourth bit, whose wires come after every
// pin's others, so that the other wires keep their identifiers.
constexpr unsigned kWires = 6;
constexpr unsigned kFourthBit = 6;  // a wire number standing for it

// Identifier codes from the printable range, as VCD wants.
std::string id(unsigned pin, unsigned wire)
{
    unsigned n = wire == kFourthBit ? kWires * kFselPins + pin : kWires * pin + wire;
    std::string s;
    do {
        s += static_cast<char>('!' + n % 94);
        n /= 94;
    } while (n);
    return s;
}

// The bits of `value` that `changed` marks, highest first, to the `width`
// wires from `first` on.
void put_bits(FILE* out, unsigned pin, unsigned first, unsigned width, unsigned value, unsigned changed)
{
    for (unsigned b = 0; b < width; ++b) {
        unsigned shift = width - 1 - b;
        if ((changed >> shift) & 1) fprintf(out, "%u%s\n", (value >> shift) & 1, id(pin, first + b).c_str());
    }
}

void put_function(FILE* out, unsigned pin, Soc soc, unsigned value, unsigned changed)
{
    if (has_fourth_function_bit(soc) && (changed & 8))
        fprintf(out, "%u%s\n", value >> 3 & 1, id(pin, kFourthBit).c_str());
    put_bits(out, pin, 1, 3, value, changed);
}

}  // namespace

bool write_vcd_header(FILE* out, const std::vector<unsigned>& pins, const PinSnapshot& start,
                      const char* date, const char* version)
{
    fprintf(out, "$date %s $end\n$version %s $end\n$timescale 1us $end\n$scope module gpio $end\n", date,
            version);
    for (unsigned p : pins) {
        fprintf(out, "$var wire 1 %s gpio%u $end\n", id(p, 0).c_str(), p);
        if (has_fourth_function_bit(start.soc))
            fprintf(out, "$var wire 1 %s gpio%u_fn3 $end\n", id(p, kFourthBit).c_str(), p);
        for (unsigned b = 0; b < 3; ++b)
            fprintf(out, "$var wire 1 %s gpio%u_fn%u $end\n", id(p, 1 + b).c_str(), p, 2 - b);
        for (unsigned b = 0; b < 2; ++b)
            fprintf(out, "$var wire 1 %s gpio%u_pull%u $end\n", id(p, 4 + b).c_str(), p, 1 - b);
    }
    fprintf(out, "$upscope $end\n$enddefinitions $end\n#0\n$dumpvars\n");
    for (unsigned p : pins) {
        fprintf(out, "%d%s\n", start.level[p], id(p, 0).c_str());
        put_function(out, p, start.soc, start.fsel[p], ~0u);
        put_bits(out, p, 4, 2, start.pull[p], ~0u);
    }
    fprintf(out, "$end\n");
    return !ferror(out);
}

void write_vcd_changes(FILE* out, unsigned pin, const PinSnapshot& before, const PinSnapshot& after)
{
    put_function(out, pin, after.soc, after.fsel[pin], after.fsel[pin] ^ before.fsel[pin]);
    put_bits(out, pin, 4, 2, after.pull[pin], after.pull[pin] ^ before.pull[pin]);
    if (before.level[pin] != after.level[pin]) fprintf(out, "%d%s\n", after.level[pin], id(pin, 0).c_str());
}

}  // namespace tavrel_sim
