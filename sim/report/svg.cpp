// SPDX-License-Identifier: MIT
// A picture of a run, for a browser: a row per pin the run touched, its
// level over time as a trace and its functions as labelled bands, on a
// time axis. Drawn from the waveform's value changes (vcd.cpp), read back
// once; each row keeps at most two points per pixel column, so the
// picture's size does not grow with the run's length.
#include "report/svg.h"

#include <stdlib.h>
#include <string.h>

#include <string>

namespace tavrel_sim {

namespace {

constexpr double kLeft = 90, kPlot = 960, kRight = 24, kTop = 34, kRow = 46, kAxis = 40;
constexpr double kBand = 6, kBandHeight = 13, kHigh = 24, kLow = 40;  // within a row

const char* const kFill[8] = {"#e8e8e8", "#c8e6c9", "#ffe0b2", "#ffe0b2",
                              "#ffe0b2", "#ffe0b2", "#ffe0b2", "#ffe0b2"};

struct Row {
    unsigned pin;
    unsigned level, fsel;
    std::string trace;  // polyline points
    double last_x = -1;
    unsigned column_lo = 1, column_hi = 0;  // levels seen in the column at last_x
    double band_x = 0;                      // where the current function began
    std::string bands;
};

double x_of(uint64_t us, uint64_t end_us)
{
    return kLeft + kPlot * (end_us ? static_cast<double>(us) / static_cast<double>(end_us) : 0);
}

double y_of(unsigned row, unsigned level)
{
    return kTop + kRow * row + (level ? kHigh : kLow);
}

void point(Row& r, unsigned index, double x, unsigned level)
{
    char buf[48];
    snprintf(buf, sizeof buf, "%.1f,%.1f ", x, y_of(index, level));
    r.trace += buf;
}

// The level changes at x: a new column gets the step, one already drawn
// only widens to both levels.
void level_at(Row& r, unsigned index, double x, unsigned level)
{
    if (x - r.last_x >= 0.5) {
        point(r, index, x, r.level);
        point(r, index, x, level);
        r.last_x = x;
        r.column_lo = r.column_hi = level;
    } else if (level < r.column_lo || level > r.column_hi) {
        point(r, index, x, level);
        r.column_lo = level < r.column_lo ? level : r.column_lo;
        r.column_hi = level > r.column_hi ? level : r.column_hi;
    }
    r.level = level;
}

void band(Row& r, unsigned index, double to)
{
    if (to - r.band_x < 0.5) return;
    char buf[400];
    double y = kTop + kRow * index + kBand;
    snprintf(buf, sizeof buf,
             "<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" fill=\"%s\" stroke=\"#9e9e9e\" "
             "stroke-width=\"0.5\"/>\n",
             r.band_x, y, to - r.band_x, kBandHeight,
             kFill[r.fsel < 8                ? r.fsel
                   : r.fsel == kFunctionNone ? 0
                                             : 2]);
    r.bands += buf;
    // The name where it fits, as a viewer's label.
    if (to - r.band_x >= 34) {
        snprintf(buf, sizeof buf, "<text class=\"fn\" x=\"%.1f\" y=\"%.1f\">%s</text>\n", r.band_x + 3,
                 y + kBandHeight - 3, function_name(r.fsel));
        r.bands += buf;
    }
}

void function_at(Row& r, unsigned index, double x, unsigned fsel)
{
    if (fsel == r.fsel) return;
    band(r, index, x);
    if (x - r.band_x >= 0.5) r.band_x = x;
    r.fsel = fsel;
}

// The pin and wire a value change's identifier names (vcd.cpp's scheme).
bool decode_id(const char* id, unsigned* pin, unsigned* wire)
{
    unsigned n = 0, scale = 1;
    for (const char* c = id; *c && *c != '\n'; ++c) {
        if (*c < '!' || *c > '~') return false;
        n += static_cast<unsigned>(*c - '!') * scale;
        scale *= 94;
    }
    // A Pi 5 board's fourth function bit: its wires follow all the others.
    if (n >= 6 * kFselPins) {
        *pin = n - 6 * kFselPins;
        *wire = 6;
        return true;
    }
    *pin = n / 6;
    *wire = n % 6;
    return true;
}

// "1 ms", "250 us", "2.5 s"
std::string time_label(uint64_t us)
{
    char buf[32];
    if (us == 0) return "0";
    if (us >= 1000000)
        snprintf(buf, sizeof buf, "%g s", static_cast<double>(us) / 1e6);
    else if (us >= 1000)
        snprintf(buf, sizeof buf, "%g ms", static_cast<double>(us) / 1e3);
    else
        snprintf(buf, sizeof buf, "%llu us", static_cast<unsigned long long>(us));
    return buf;
}

// Ticks at 1, 2 or 5 times a power of ten, at most ten of them.
uint64_t tick_step(uint64_t end_us)
{
    for (uint64_t base = 1;; base *= 10)
        for (uint64_t m : {1, 2, 5})
            if (end_us / (base * m) <= 10) return base * m;
}

void axis(FILE* out, size_t rows, uint64_t end_us)
{
    double y = kTop + kRow * static_cast<double>(rows) + 6;
    fprintf(out, "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#000\"/>\n", kLeft, y,
            kLeft + kPlot, y);
    uint64_t step = tick_step(end_us);
    for (uint64_t t = 0; t <= end_us; t += step) {
        double x = x_of(t, end_us);
        fprintf(out,
                "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#000\"/>\n"
                "<text class=\"axis\" x=\"%.1f\" y=\"%.1f\">%s</text>\n",
                x, y, x, y + 5, x, y + 18, time_label(t).c_str());
    }
}

}  // namespace

bool write_svg(FILE* out, const std::vector<unsigned>& pins, const PinSnapshot& start, FILE* body,
               uint64_t end_us)
{
    std::vector<Row> rows;
    int index_of[kFselPins];
    memset(index_of, -1, sizeof index_of);
    for (unsigned p : pins) {
        index_of[p] = static_cast<int>(rows.size());
        Row r;
        r.pin = p;
        r.level = start.level[p];
        r.fsel = start.fsel[p];
        r.band_x = kLeft;
        point(r, static_cast<unsigned>(rows.size()), kLeft, r.level);
        rows.push_back(r);
    }
    if (fflush(body) != 0 || fseek(body, 0, SEEK_SET) != 0) return false;
    char line[64];
    double x = kLeft;
    while (fgets(line, sizeof line, body)) {
        if (line[0] == '#') {
            uint64_t us = strtoull(line + 1, nullptr, 10);
            x = x_of(us > end_us ? end_us : us, end_us);
            continue;
        }
        unsigned pin, wire;
        if ((line[0] != '0' && line[0] != '1') || !decode_id(line + 1, &pin, &wire) || pin >= kFselPins ||
            index_of[pin] < 0)
            continue;
        Row& r = rows[static_cast<size_t>(index_of[pin])];
        unsigned index = static_cast<unsigned>(index_of[pin]), bit = line[0] == '1';
        if (wire == 0) {
            level_at(r, index, x, bit);
        } else if (wire <= 3 || wire == 6) {
            unsigned shift = wire == 6 ? 3 : 3 - wire, fsel = (r.fsel & ~(1u << shift)) | bit << shift;
            function_at(r, index, x, fsel);
        }
    }
    if (ferror(body)) return false;

    double width = kLeft + kPlot + kRight, height = kTop + kRow * static_cast<double>(rows.size()) + kAxis;
    fprintf(
        out,
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" viewBox=\"0 0 %.0f %.0f\" "
        "data-x0=\"%.0f\" data-plot-width=\"%.0f\" data-end-us=\"%llu\">\n"
        "<style>text{font-family:sans-serif;font-size:12px}.fn{font-size:9px}.axis{font-size:10px;"
        "text-anchor:middle}</style>\n"
        "<rect width=\"100%%\" height=\"100%%\" fill=\"#fff\"/>\n"
        "<text x=\"%.0f\" y=\"20\">The pins the run touched: function (band) and level (trace), over "
        "%s</text>\n",
        width, height, width, height, kLeft, kPlot, static_cast<unsigned long long>(end_us), kLeft,
        time_label(end_us).c_str());
    for (size_t i = 0; i < rows.size(); ++i) {
        Row& r = rows[i];
        unsigned index = static_cast<unsigned>(i);
        point(r, index, kLeft + kPlot, r.level);
        band(r, index, kLeft + kPlot);
        fprintf(out,
                "<g data-pin=\"%u\" data-high=\"%.1f\" data-low=\"%.1f\" data-band=\"%.1f\">\n"
                "<text x=\"8\" y=\"%.1f\">GPIO%u</text>\n%s"
                "<polyline fill=\"none\" stroke=\"#1565c0\" stroke-width=\"2\" points=\"%s\"/>\n</g>\n",
                r.pin, y_of(index, 1), y_of(index, 0), kTop + kRow * index + kBand, y_of(index, 0) - 4, r.pin,
                r.bands.c_str(), r.trace.c_str());
    }
    axis(out, rows.size(), end_us);
    fputs("</svg>\n", out);
    return !ferror(out);
}

}  // namespace tavrel_sim
