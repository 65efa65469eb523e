// SPDX-License-Identifier: MIT
#include <string.h>

#include "report/vcd.h"

namespace tavrel_sim {

bool write_gtkw(FILE* out, const char* vcd_path, const std::vector<unsigned>& pins, const char* filters,
                Soc soc)
{
    fprintf(out, "[*] GTKWave save file from tavrel-sim: each pin's level, function and pull\n");
    // The line is quoted and ends at a newline, with no escape for either:
    // a dump whose name holds one is given on GTKWave's command line.
    if (strpbrk(vcd_path, "\"\n"))
        fprintf(out, "[*] open it with its dump: gtkwave DUMP SAVEFILE\n");
    else
        fprintf(out, "[dumpfile] \"%s\"\n", vcd_path);
    for (unsigned p : pins) {
        // Binary for the level; the function and pull as vectors of their
        // bits, shown through the translate filters' names.
        fprintf(out, "@28\ngpio.gpio%u\n", p);
        fprintf(out, "@2022\n^1 %s/function.txt\n#{gpio%u_fn}", filters, p);
        if (has_fourth_function_bit(soc)) fprintf(out, " gpio.gpio%u_fn3", p);
        fprintf(out, " gpio.gpio%u_fn2 gpio.gpio%u_fn1 gpio.gpio%u_fn0\n", p, p, p);
        fprintf(out, "@2022\n^2 %s/pull.txt\n#{gpio%u_pull} gpio.gpio%u_pull1 gpio.gpio%u_pull0\n", filters,
                p, p, p);
    }
    return !ferror(out);
}

}  // namespace tavrel_sim
