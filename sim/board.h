// SPDX-License-Identifier: MIT
// The simulated board: a file holding the GPIO register block and the
// device model's state, shared by every process that opens it, as one
// board is on a real Pi.
#pragma once

#include <pthread.h>
#include <stddef.h>
#include <stdint.h>
#include <sys/types.h>

#include <string>
#include <vector>

namespace tavrel_sim {

constexpr unsigned kPageBytes = 4096;
constexpr unsigned kWords = kPageBytes / 4;
constexpr unsigned kBoardBytes = 2 * kPageBytes;
constexpr unsigned kPins = 54;  // GPIOs the BCM2835 bonds out

// Environment read by the shim.
constexpr const char kBoardEnv[] = "TAVREL_SIM_BOARD";      // board file
constexpr const char kVersionEnv[] = "TAVREL_SIM_VERSION";  // version file
constexpr const char kTraceEnv[] = "TAVREL_SIM_TRACE";      // trace file
constexpr const char kModeEnv[] = "TAVREL_SIM_MODE";        // "plain": no model

constexpr const char kDevicePath[] = "/dev/gpiomem";
constexpr const char kVersionPath[] = "/opt/tavrel/VERSION";

// Register words with behaviour of their own; every other word is storage.
enum : unsigned {
    GPSET0 = 7,
    GPSET1 = 8,
    GPCLR0 = 10,
    GPCLR1 = 11,
    GPLEV0 = 13,
    GPLEV1 = 14,
    GPPUD = 37,
    GPPUDCLK0 = 38,
    GPPUDCLK1 = 39,
};

// A pin's pull, in GPPUD's encoding.
constexpr unsigned kPullOff = 0, kPullDown = 1, kPullUp = 2;
const char* pull_name(unsigned pull);  // "off", "down", "up"

// The model's pull rules, shared by the board and the waveform's replay.
// A pin that is not an output reads what is driven onto it, else its pull.
inline bool input_level(bool driving, bool driven, unsigned pull)
{
    return driving ? driven : pull == kPullUp;
}
// A rising GPPUDCLK bit (bank 0 or 1) latches GPPUD's code into its pin;
// the reserved code 3 leaves the pins as they are.
void latch_pulls(uint8_t* pull, unsigned bank, uint32_t rising, uint32_t control);

// One access to the block, as the trace file holds it.
struct TraceRecord {
    enum Kind : uint8_t { kRead = 1, kWrite = 2 };
    enum Flag : uint8_t { kBadWidth = 1, kUnaligned = 2, kAfterUnmap = 4 };
    uint32_t pid;
    uint32_t tid;
    uint64_t ns;  // CLOCK_MONOTONIC
    uint16_t word;
    uint8_t kind;
    uint8_t flags;  // 0 for a well-formed access
    uint32_t value;
    uint32_t width;  // bytes
    uint32_t reserved;
};
static_assert(sizeof(TraceRecord) == 32, "trace records are fixed-size");

// The record of an access by this thread, now.
TraceRecord make_record(TraceRecord::Kind kind, unsigned word, uint32_t value, uint8_t flags, uint32_t width);
uint64_t monotonic_ns();

std::vector<TraceRecord> read_trace(const std::string& path);
std::string describe(const TraceRecord& r);
const char* register_name(unsigned word);  // null for plain words

void default_board_path(char* buf, size_t size);

// What identifies an open file. Taken with statx, whose layout the kernel
// fixes, so that the shim also works under a C library other than the one
// it was built against (such as musl's loader on an ARM1176 model).
struct FileId {
    uint64_t dev = 0, ino = 0, size = 0;
    bool regular = false;
};
bool identify(int fd, FileId* id);

// Function-select code names: input, output, alt0..alt5.
const char* function_name(unsigned code);

// The model's state, in the file's second page.
struct ModelState {
    uint32_t magic;
    uint32_t errors;  // malformed accesses, by any process
    uint32_t latch[2];
    uint32_t driven[2];
    pthread_mutex_t lock;  // process-shared and robust
    // Pins something outside drives; the others float to their pull.
    uint32_t driving[2];
    uint8_t pull[64];  // kPull*, latched by a GPPUDCLK pulse
};

class Board {
public:
    // Opens (creating) and maps the board file; false with errno on failure.
    bool open(const char* path);
    void close();
    ~Board() { close(); }

    bool is_open() const { return regs_ != nullptr; }

    // Model semantics; safe across threads and processes.
    uint32_t read(unsigned word);
    void write(unsigned word, uint32_t value);
    // The same, appending the access to `trace_fd` under the board's lock
    // so the trace order is the access order. Callers have every signal
    // blocked, as a signal handler with a full mask has.
    uint32_t read_traced(unsigned word, int trace_fd);
    void write_traced(unsigned word, uint32_t value, int trace_fd);
    // Counts a malformed access and appends it to the trace, in order with
    // the others; same signal rule.
    void record_error(int trace_fd, TraceRecord::Kind kind, unsigned word, uint32_t value, uint8_t flags,
                      uint32_t width);

    // The level a device outside drives onto an input pin, until release.
    void drive(unsigned pin, bool high);
    // Stops driving the pin: as an input it then reads its pull.
    void release(unsigned pin);
    uint32_t driven(unsigned bank);
    uint32_t driving(unsigned bank);
    unsigned pull(unsigned pin);
    uint32_t latch(unsigned bank);
    unsigned fsel(unsigned pin);
    bool level(unsigned pin);
    // Raw storage, bypassing the model: sets up register contents.
    void poke(unsigned word, uint32_t value);
    uint32_t peek(unsigned word);
    uint32_t errors();
    // Every register, latch, driven level and pull back to 0 (off).
    void reset();

    // The register page itself, for a plain shared mapping.
    volatile uint32_t* regs() { return regs_; }

private:
    uint32_t read_locked(unsigned word);
    void write_locked(unsigned word, uint32_t value);
    void lock();
    void unlock();

    volatile uint32_t* regs_ = nullptr;
    ModelState* state_ = nullptr;
};

}  // namespace tavrel_sim
