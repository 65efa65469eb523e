// SPDX-License-Identifier: MIT
// tavrel-sim --vcd: the dump of a scripted run, parsed and checked.
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "report/vcd.h"
#include "support/open_board.h"

using namespace tavrel_test;

namespace {

struct Change {
    uint64_t time;
    std::string signal, value;
};

struct Vcd {
    std::map<std::string, std::string> timescale_and_such;
    std::map<std::string, std::string> name_of;  // identifier -> name
    std::vector<std::string> declared;
    std::set<std::string> kinds;  // type and width of each signal
    std::vector<uint64_t> times;
    std::vector<Change> changes;  // after the initial dump
    std::map<std::string, std::string> initial;
    bool ended_definitions = false;
};

Vcd parse(const std::string& path)
{
    Vcd v;
    std::ifstream in(path);
    std::string tok;
    uint64_t now = 0;
    bool dumpvars = false;
    while (in >> tok) {
        if (tok == "$timescale" || tok == "$date" || tok == "$version") {
            std::string text, word;
            while (in >> word && word != "$end") text += (text.empty() ? "" : " ") + word;
            v.timescale_and_such[tok] = text;
        } else if (tok == "$var") {
            std::string type, size, id, name, end;
            in >> type >> size >> id >> name >> end;
            v.name_of[id] = name;
            v.declared.push_back(name);
            v.kinds.insert(type + " " + size);
        } else if (tok == "$enddefinitions") {
            in >> tok;
            v.ended_definitions = true;
        } else if (tok == "$dumpvars") {
            dumpvars = true;
        } else if (tok == "$end") {
            dumpvars = false;
        } else if (tok[0] == '#') {
            now = std::stoull(tok.substr(1));
            v.times.push_back(now);
        } else if (tok[0] == 's') {
            std::string id;
            in >> id;
            (dumpvars ? v.initial[v.name_of[id]]
                      : (v.changes.push_back({now, v.name_of[id], tok.substr(1)}), tok)) = tok.substr(1);
        } else if (tok[0] == '0' || tok[0] == '1') {
            std::string name = v.name_of[tok.substr(1)];
            if (dumpvars)
                v.initial[name] = tok.substr(0, 1);
            else
                v.changes.push_back({now, name, tok.substr(0, 1)});
        }
    }
    return v;
}

class Vcd_ : public SimOnBoard {
protected:
    void SetUp() override
    {
        REQUIRE_TRAPPING();
        SimOnBoard::SetUp();
        vcd = board.path() + ".vcd";
    }
    void TearDown() override { unlink(vcd.c_str()); }
    std::string vcd;
};

TEST_F(Vcd_, dump_of_a_scripted_run_is_well_formed_and_in_time_order)
{
    Outcome o = sim({"--vcd", vcd, "--", TAVREL_QUIT_APP, "bytes"});
    ASSERT_TRUE(o.exited_with(0)) << o.err;
    Vcd v = parse(vcd);
    EXPECT_TRUE(v.ended_definitions);
    EXPECT_EQ(v.timescale_and_such["$timescale"], "1us");
    EXPECT_NE(v.timescale_and_such["$version"].find("tavrel-sim"), std::string::npos);
    EXPECT_FALSE(v.timescale_and_such["$date"].empty());

    std::set<std::string> names(v.declared.begin(), v.declared.end());
    EXPECT_EQ(names.size(), v.declared.size()) << "a signal is declared twice";
    for (int pin = 4; pin < 12; ++pin) {
        std::string g = "gpio" + std::to_string(pin);
        for (const char* suffix : {"", "_fn2", "_fn1", "_fn0", "_pull1", "_pull0"})
            EXPECT_TRUE(names.count(g + suffix)) << g << suffix;
    }
    EXPECT_EQ(names.size(), 48u) << "only the touched pins";
    EXPECT_EQ(v.kinds, std::set<std::string>{"wire 1"}) << "one-bit wires, which every viewer reads";
    for (size_t i = 1; i < v.times.size(); ++i) EXPECT_LT(v.times[i - 1], v.times[i]);
}

TEST_F(Vcd_, levels_follow_what_the_program_drove_in_set_byte_order)
{
    ASSERT_TRUE(sim({"--vcd", vcd, "--", TAVREL_QUIT_APP, "bytes"}).exited_with(0));
    Vcd v = parse(vcd);
    for (int pin = 4; pin < 12; ++pin) {
        std::string g = "gpio" + std::to_string(pin);
        EXPECT_EQ(v.initial[g], "0");
        EXPECT_EQ(v.initial[g + "_fn2"] + v.initial[g + "_fn1"] + v.initial[g + "_fn0"], "000") << "input";
    }
    std::vector<std::string> levels, functions;
    for (const Change& c : v.changes) {
        if (c.signal.find("_fn") != std::string::npos)
            functions.push_back(c.signal + "=" + c.value);
        else
            levels.push_back(c.signal + "=" + c.value);
    }
    ASSERT_EQ(functions.size(), 8u);
    for (int pin = 4; pin < 12; ++pin)
        EXPECT_EQ(functions[pin - 4], "gpio" + std::to_string(pin) + "_fn0=1") << "input 000 to output 001";
    // 0xA5 raises 4, 6, 9, 11; then 0x5A changes all eight, pin 4 first.
    EXPECT_EQ(levels,
              (std::vector<std::string>{"gpio4=1", "gpio6=1", "gpio9=1", "gpio11=1", "gpio4=0", "gpio5=1",
                                        "gpio6=0", "gpio7=1", "gpio8=1", "gpio9=0", "gpio10=1", "gpio11=0"}));
}

TEST_F(Vcd_, driven_inputs_appear_with_their_schedule)
{
    for (unsigned pin = 24; pin <= 27; ++pin) board.set_fsel(pin, 1);
    std::vector<std::string> args = {"--vcd", vcd};
    for (const std::string& a : quit_pattern_schedule()) args.push_back(a);
    for (const char* a : {"--", TAVREL_QUIT_APP, "listen", "0"}) args.push_back(a);
    Outcome o = sim(args);
    ASSERT_TRUE(o.exited_with(0)) << o.err;
    Vcd v = parse(vcd);
    uint64_t high_at = 0;
    for (const Change& c : v.changes)
        if (c.signal == "gpio24" && c.value == "1" && !high_at) high_at = c.time;
    EXPECT_GE(high_at, 300000u) << "microseconds after the start";
    EXPECT_LT(high_at, 400000u);
}

TEST_F(Vcd_, one_drive_entry_is_one_moment_and_a_pull_alone_puts_its_pin_in_the_dump)
{
    Outcome o = sim({"--vcd", vcd, "--drive", "0:4-7,40=1", "--", TAVREL_PULL_TOOL_PATH, "-p", "22", "-u"});
    ASSERT_TRUE(o.exited_with(0)) << o.err;
    Vcd v = parse(vcd);
    for (size_t i = 1; i < v.times.size(); ++i) EXPECT_LT(v.times[i - 1], v.times[i]) << "no time twice";
    std::map<std::string, uint64_t> rose;
    for (const Change& c : v.changes)
        if (c.value == "1" && c.signal.find('_') == std::string::npos) rose[c.signal] = c.time;
    for (const char* pin : {"gpio4", "gpio5", "gpio6", "gpio7", "gpio40"}) {
        ASSERT_TRUE(rose.count(pin)) << pin;
        EXPECT_EQ(rose[pin], rose["gpio4"]) << pin << " changed with the others";
    }
    std::set<std::string> names(v.declared.begin(), v.declared.end());
    EXPECT_TRUE(names.count("gpio22_pull1")) << "its pull is its only change";
    EXPECT_EQ(v.initial["gpio22_pull1"] + v.initial["gpio22_pull0"], "00");
    bool pulled_up = false;
    for (const Change& c : v.changes) pulled_up = pulled_up || (c.signal == "gpio22_pull1" && c.value == "1");
    EXPECT_TRUE(pulled_up) << "up is code 2";

    // The BCM2711's pulls, through its own controls, and its pins past 53.
    o = sim({"--soc", "bcm2711", "--vcd", vcd, "--", TAVREL_PULL_TOOL_PATH, "-p", "56", "-u"});
    ASSERT_TRUE(o.exited_with(0)) << o.err;
    v = parse(vcd);
    pulled_up = false;
    for (const Change& c : v.changes) pulled_up = pulled_up || (c.signal == "gpio56_pull1" && c.value == "1");
    EXPECT_TRUE(pulled_up) << "shown in GPPUD's codes on either chip";
}

TEST_F(Vcd_, an_unwritable_file_is_refused_before_the_command_runs)
{
    Outcome o = sim({"--vcd", "/nonexistent/dir/run.vcd", "--", TAVREL_TOOL_PATH, "-p", "17", "-o"});
    EXPECT_TRUE(o.exited_with(2));
    EXPECT_NE(o.err.find("cannot write /nonexistent/dir/run.vcd"), std::string::npos) << o.err;
    EXPECT_EQ(o.out, "") << "the command did not run";
    EXPECT_EQ(board.fsel(17), 0u);

    o = sim({"--vcd"});
    EXPECT_TRUE(o.exited_with(2));
    EXPECT_NE(o.err.find("requires an argument"), std::string::npos) << o.err;

    o = sim({"--plain", "--vcd", vcd, "--", "true"});
    EXPECT_TRUE(o.exited_with(2));
    EXPECT_NE(o.err.find("--vcd needs the device model"), std::string::npos) << o.err;
    EXPECT_NE(access(vcd.c_str(), F_OK), 0) << "no file left behind";
    EXPECT_NE(access((vcd + ".part").c_str(), F_OK), 0);
}

TEST(VcdHeader, every_wire_of_all_54_pins_has_an_identifier_of_its_own)
{
    std::vector<unsigned> pins;
    for (unsigned p = 0; p < tavrel_sim::kPins; ++p) pins.push_back(p);
    tavrel_sim::PinSnapshot start = {};
    char* text = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&text, &size);
    ASSERT_TRUE(tavrel_sim::write_vcd_header(out, pins, start, "now", "test"));
    fclose(out);
    std::istringstream in(text);
    std::set<std::string> ids;
    unsigned vars = 0;
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        std::string var, type, width, id;
        if (words >> var >> type >> width >> id && var == "$var") {
            ++vars;
            ids.insert(id);
        }
    }
    free(text);
    EXPECT_EQ(vars, 54u * 6);
    EXPECT_EQ(ids.size(), vars);
}

TEST(TraceText, names_every_register_and_says_what_was_wrong)
{
    using tavrel_sim::TraceRecord;
    TraceRecord r = tavrel_sim::make_record(TraceRecord::kWrite, GPPUDCLK1, 2, 0, 4);
    EXPECT_NE(tavrel_sim::describe(r).find("write GPPUDCLK1 0x00000002"), std::string::npos)
        << tavrel_sim::describe(r);
    r = tavrel_sim::make_record(TraceRecord::kRead, 100, 0, TraceRecord::kBadWidth | TraceRecord::kUnaligned,
                                2);
    std::string text = tavrel_sim::describe(r);
    EXPECT_NE(text.find("word 100"), std::string::npos) << text;
    EXPECT_NE(text.find("ERROR: 16-bit access"), std::string::npos) << text;
    EXPECT_NE(text.find("ERROR: unaligned access"), std::string::npos) << text;
    EXPECT_EQ(text.find("after munmap"), std::string::npos) << text;
}

TEST(TraceText, a_trace_that_ends_partway_through_a_record_is_cut_short)
{
    char path[] = "/tmp/tavrel-trace-XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    tavrel_sim::TraceRecord r = tavrel_sim::make_record(tavrel_sim::TraceRecord::kRead, GPLEV0, 0, 0, 4);
    ASSERT_EQ(write(fd, &r, sizeof r), static_cast<ssize_t>(sizeof r));
    ASSERT_EQ(write(fd, &r, 10), 10);
    close(fd);
    bool whole = true;
    EXPECT_EQ(tavrel_sim::read_trace(path, &whole).size(), 1u);
    EXPECT_FALSE(whole);
    unlink(path);
}

}  // namespace
