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
// Room for a path and a sentence about it.
constexpr size_t kMessageBytes = 4096 + 256;

// Environment read by the shim.
constexpr const char kBoardEnv[] = "TAVREL_SIM_BOARD";      // board file
constexpr const char kVersionEnv[] = "TAVREL_SIM_VERSION";  // version file
constexpr const char kTraceEnv[] = "TAVREL_SIM_TRACE";      // trace file
constexpr const char kModeEnv[] = "TAVREL_SIM_MODE";        // "plain": no model
// Where the instruction address of each trapped access is appended, one
// hex number a line: for checks of the code around the accesses.
constexpr const char kPcLogEnv[] = "TAVREL_SIM_PC_LOG";

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

// The records of a trace file; `whole` (when not null) is false when the
// file ends in part of a record or cannot be read.
std::vector<TraceRecord> read_trace(const std::string& path, bool* whole = nullptr);
std::string describe(const TraceRecord& r);
const char* register_name(unsigned word);  // null for plain words

// The default board, in a directory private to the user: the user's
// runtime directory ($XDG_RUNTIME_DIR) when it is a private one, else
// tavrel-sim-UID under $TMPDIR or /tmp, created 0700 and checked to be the
// user's own real directory. False, with the reason in `why`, when no safe
// place exists or the path does not fit.
bool default_board_path(char* buf, size_t size, char* why, size_t why_size);

// What identifies an open file. Taken with statx, whose layout the kernel
// fixes, so that the shim also works under a C library other than the one
// it was built against (such as musl's loader on an ARM1176 model).
struct FileId {
    uint64_t dev = 0, ino = 0, size = 0;
    uint32_t uid = 0, mode = 0;
    bool regular = false;
};
bool identify(int fd, FileId* id);

// What a device outside does to a pin: drive it low or high, or let go.
enum class Drive : uint8_t { kLow, kHigh, kRelease };

// Function-select code names: input, output, alt0..alt5.
const char* function_name(unsigned code);

// The model's state, in the file's second page.
struct ModelState {
    uint32_t magic;
    uint32_t version;     // of this layout
    uint32_t errors;      // malformed accesses, by any process
    uint32_t trace_lost;  // trace records that could not be written
    uint32_t latch[2];
    uint32_t driven[2];
    pthread_mutex_t lock;  // process-shared and robust
    // Pins something outside drives; the others float to their pull.
    uint32_t driving[2];
    uint8_t pull[64];  // kPull*, latched by a GPPUDCLK pulse
};

// Where traced accesses go. Called with the board's lock held and every
// signal blocked; false when the record could not be written whole.
class TraceSink {
public:
    virtual bool append(const TraceRecord& record) = 0;

protected:
    ~TraceSink() = default;
};

// How long a board's lock may be held before the board counts as broken:
// far beyond any access, which holds it for microseconds.
constexpr unsigned kLockSeconds = 5;

class Board {
public:
    // Opens (creating) and maps the board file; false with errno on
    // failure, and the reason in refusal(). Refused: a symbolic link, not a
    // regular file, another user's file, one that group or others may
    // write, one of another size, magic or layout version, or one whose
    // lock is not released within kLockSeconds. `recreate` makes the whole
    // board anew without looking at its old contents or taking its lock.
    bool open(const char* path, bool recreate = false);
    void close();
    ~Board() { close(); }

    bool is_open() const { return regs_ != nullptr; }
    // Why the last open failed ("it is a symbolic link"), and whether recreating the board (--reset)
    // cures it: true for a corrupt board, false for an unsafe file.
    const char* refusal() const { return refusal_; }
    bool reset_cures() const { return reset_cures_; }
    // The open itself failed (errno says why), or the path is something
    // other than a regular file or a link; neither is a board refused.
    bool not_a_board() const { return not_a_board_; }
    // The open board file's identity.
    const FileId& id() const { return id_; }

    // Model semantics; safe across threads and processes.
    uint32_t read(unsigned word);
    void write(unsigned word, uint32_t value);
    // The same, appending the access to `sink` (when not null) under the
    // board's lock so the trace order is the access order; a record the
    // sink cannot take is counted in trace_lost. Callers have every signal
    // blocked, as a signal handler with a full mask has.
    uint32_t read_traced(unsigned word, TraceSink* sink);
    void write_traced(unsigned word, uint32_t value, TraceSink* sink);
    // Counts a malformed access and appends it to the trace, in order with
    // the others; same signal rule.
    void record_error(TraceSink* sink, TraceRecord::Kind kind, unsigned word, uint32_t value, uint8_t flags,
                      uint32_t width);

    // The level a device outside drives onto an input pin, until release.
    void drive(unsigned pin, bool high);
    // Stops driving the pin: as an input it then reads its pull.
    void release(unsigned pin);
    // Does the same to every pin of `pins` (a bit per pin, banks 0 and 1)
    // at once: no reader sees some changed and others not.
    void drive_pins(const uint32_t pins[2], Drive drive);
    // Drives the pins of `low` low and of `high` high, and lets go of
    // those of `released`, all under one lock (a bit per pin, banks 0, 1).
    void drive_all(const uint32_t low[2], const uint32_t high[2], const uint32_t released[2]);
    // Sets or clears `pins` in the stored level words, all at once: what a
    // plain block's reader sees.
    void drive_plain_levels(const uint32_t pins[2], bool high);
    // Trace records that could not be written, so far.
    uint32_t trace_lost();
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
    // Every register, latch, driven level, pull and count back to 0, under
    // the lock, for the programs that have the board open.
    void clear();

    // The register page itself, for a plain shared mapping.
    volatile uint32_t* regs() { return regs_; }

private:
    uint32_t read_locked(unsigned word);
    void write_locked(unsigned word, uint32_t value);
    void append(TraceSink* sink, TraceRecord::Kind kind, unsigned word, uint32_t value, uint8_t flags = 0,
                uint32_t width = 4);
    bool try_lock();  // within kLockSeconds
    void lock();      // or the process ends, naming the broken board
    void unlock();
    bool refuse(const char* path, bool reset_cures, const char* fmt, ...)
        __attribute__((format(printf, 4, 5)));
    bool attach(const char* path, void* map);

    volatile uint32_t* regs_ = nullptr;
    ModelState* state_ = nullptr;
    FileId id_;
    char refusal_[kMessageBytes] = {};
    bool reset_cures_ = false;
    bool not_a_board_ = false;
};

}  // namespace tavrel_sim
