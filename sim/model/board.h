// SPDX-License-Identifier: MIT
// The simulated board: a file holding the GPIO register block and the
// device model's state, shared by every process that opens it, as one
// board is on a real Pi.
#pragma once

#include <pthread.h>
#include <stdint.h>
#include <sys/socket.h>
#include <sys/un.h>

#include "model/board_file.h"
#include "model/edges.h"
#include "model/journal.h"
#include "model/lines.h"
#include "model/model.h"
#include "model/rp1.h"
#include "model/trace_record.h"

namespace tavrel_sim {

// The register page, the model's page, the journal, edge detection, then
// the RP1's window, which a Pi 5 board uses in place of the page.
constexpr unsigned kEdgesBytes = (sizeof(Edges) + kPageBytes - 1) / kPageBytes * kPageBytes;
constexpr unsigned kWindowOffset = 2 * kPageBytes + kJournalBytes + kEdgesBytes;
constexpr unsigned kBoardBytes = kWindowOffset + kRp1WindowBytes;

// The board's whole state at one moment: its register page (on the RP1,
// the words of its window that decide the pins, packed) and the model's.
struct BoardState {
    uint32_t regs[kWords];
    uint32_t latch[kBanks], driven[kBanks], driving[kBanks];
    uint8_t pull[kMaxPins];
    Soc soc;
};

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
    // The thread that holds the lock, or 0: one stopped by a signal or a
    // debugger is waited for, not taken for a broken board. Boards made
    // before it hold 0 here.
    uint32_t holder;
    // What each run of tavrel-sim on the board is to report of its own:
    // a run's processes carry its id (kRunEnv), its tavrel-sim's pid.
    struct RunCounts {
        uint32_t id;  // 0: free
        uint32_t errors, trace_lost;
    } runs[16];
    // The chip, a Soc.
    uint32_t soc;
    // The character device's lines; boards made before them hold 0: every
    // line free, and an input to the kernel.
    uint32_t next_request;
    uint32_t reserved;
    LineDesc lines[kLineDescs];
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
    // lock is not released within kLockSeconds. `recreate` sets every
    // register, latch, drive, pull and count back to 0: in place, under the
    // lock, on a valid board; by making anew a board refused as corrupt.
    bool open(const char* path, bool recreate = false);
    void close();
    ~Board() { close(); }

    bool is_open() const { return regs_ != nullptr; }
    // Why the last open failed ("it is a symbolic link"), and whether recreating the board (--reset)
    // cures it: true for a corrupt board, false for an unsafe file.
    const char* refusal() const { return refusal_; }
    bool reset_cures() const { return reset_cures_; }
    // Refused because a stopped thread holds its lock: it is no fault of
    // the board's.
    bool held_by_stopped() const { return held_by_stopped_; }
    // The open itself failed (errno says why), or the path is something
    // other than a regular file or a link; neither is a board refused.
    bool not_a_board() const { return not_a_board_; }
    // The open board file's identity.
    const FileId& id() const { return id_; }

    // Model semantics; safe across threads and processes. `word` counts
    // in the chip's block: the register page, or the RP1's window.
    uint32_t read(unsigned word);
    void write(unsigned word, uint32_t value);
    // The same, appending the access to `sink` (when not null) under the
    // board's lock so the trace order is the access order; a record the
    // sink cannot take is counted in trace_lost. Callers have every signal
    // blocked, as a signal handler with a full mask has.
    // `flags`: TraceRecord::kKernel for the kernel's own accesses.
    uint32_t read_traced(unsigned word, TraceSink* sink, uint8_t flags = 0);
    void write_traced(unsigned word, uint32_t value, TraceSink* sink, uint8_t flags = 0);
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
    // Takes a slot for a run's own counts, under the lock, and returns its
    // id (0 when every slot is held by a live run). A slot whose tavrel-sim
    // is gone is taken back.
    uint32_t begin_run();
    // The run's own malformed accesses and lost trace records; frees its
    // slot.
    void end_run(uint32_t id, uint32_t* errors, uint32_t* trace_lost);
    // This process belongs to run `id`: its errors count there too.
    void set_run(uint32_t id) { run_ = id; }
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
    // the lock, for the programs that have the board open. The chip stays.
    void clear();
    // The chip whose block the board is.
    Soc soc();
    // Makes the board that chip's; when it was another's, clears it first,
    // as one board swapped for another. True when the chip changed.
    bool set_soc(Soc soc);

    // The board's state, and the journal's head as it stood then: the two
    // taken together, under the lock.
    uint64_t snapshot(BoardState* state);
    // The journal's entries from *next on, up to `max`, into `out`; their
    // number. Entries overwritten before they could be read are counted in
    // *lost, and *next moves past them.
    unsigned read_journal(uint64_t* next, JournalEntry* out, unsigned max, uint64_t* lost);
    // Sleeps until the journal goes past `next`, wake_journal is called, or
    // `timeout_us` microseconds pass.
    void wait_journal(uint64_t next, uint32_t timeout_us);
    // Ends every wait_journal now, and until the next entry;
    // async-signal-safe.
    void wake_journal();

    // The character device's lines (lines.h), under the lock. Claims the
    // `n` lines of `offsets` for a new request of process `pid` named
    // `label`, in order, as the kernel requests them: the first offset
    // past the chip fails with EINVAL and the first one held with EBUSY,
    // and then none is claimed. Requests whose descriptors are all closed
    // are freed first. 0 or an errno. *got: how many lines the kernel
    // requested before the one that failed, which it configured and then
    // freed.
    int claim_lines(const uint32_t* offsets, unsigned n, const char* label, uint32_t pid, uint32_t* request,
                    unsigned* got, TraceSink* sink);
    // Frees the request's lines as the kernel's release does: each becomes
    // an input (the kernel's accesses traced to `sink`), stops detecting
    // edges and keeps what the kernel keeps, and its watchers see it
    // released. The freed lines, a bit per offset.
    uint64_t free_request(uint32_t request, TraceSink* sink);
    // Frees every request whose descriptor no process has open any more.
    void reap(TraceSink* sink);
    // Some line is held.
    bool holding();
    // Makes the pin an input as the kernel's pinctrl does.
    void kernel_input(unsigned pin, TraceSink* sink);
    // Shows the request's lines held, its making done.
    void show_lines(uint32_t request);
    // Journals a change of a line's information for its watchers: the
    // line's flags and debounce period now, and its consumer beside it.
    void note_line(unsigned offset, uint32_t change);
    // The consumer journaled with kLine entry `seq`; false when the
    // journal has gone past it since.
    bool line_label(uint64_t seq, char* label);
    LineDesc line(unsigned offset);
    // A request holds the line, as its information shows it (used once the
    // request is whole); a holder whose descriptors are all closed, or
    // whose process ended, is freed first.
    bool held(unsigned offset);
    // The flags and debounce period of a line the request holds; with
    // request 0, the direction a free line keeps.
    void set_line(uint32_t request, unsigned offset, uint64_t flags, uint32_t debounce_us);

    // Edge detection (edges.h). A request's descriptor: its socket, bound,
    // or -1 with errno.
    int request_socket(uint32_t request, bool nonblock);
    // Starts detecting on the request's lines with these flags and
    // periods, from their levels now; its queue holds `buffer` events. The
    // queue's slot, or -1 when none is free.
    int start_edges(uint32_t request, const uint32_t* offsets, unsigned n, const uint64_t* flags,
                    const uint32_t* debounce_us, unsigned buffer, bool v1);
    // New edge flags and periods; a line whose either changed starts again
    // from its level now, as the kernel's does.
    void reconfigure_edges(const uint32_t* offsets, unsigned n, const uint64_t* flags,
                           const uint32_t* debounce_us);
    // A detecting line's flags, period and debounced raw level; false for
    // a line that detects nothing.
    bool edge_setup(unsigned offset, uint64_t* flags, uint32_t* debounce_us, bool* debounced);
    // Whole events of the request into `buf`, read through its descriptor
    // `fd`: bytes (0 when none waits), -EINVAL for a buffer too small for
    // one, -ENOENT for a request that detects nothing.
    long read_events(uint32_t request, int fd, void* buf, size_t count);
    // Ends the debounce waits that are over; the end of the earliest still
    // running, or 0.
    uint64_t next_deadline();

    // Words in the chip's block: kWords, or kRp1Words.
    unsigned words() { return is_rp1(soc()) ? kRp1Words : kWords; }

    // The address lies in this board's mapping of the file.
    bool maps(uintptr_t addr) const
    {
        return regs_ && addr - reinterpret_cast<uintptr_t>(regs_) < kBoardBytes;
    }

    // The register page itself, for a plain shared mapping.
    volatile uint32_t* regs() { return regs_; }
    volatile uint32_t* window() { return regs_ ? regs_ + kWindowOffset / 4 : nullptr; }

private:
    Pins pins();  // the model's view of this board
    void clear_locked(Soc soc);
    Journal* journal();
    Edges* edges();
    // What a step at `ns` did to the detecting lines.
    void detect(uint64_t ns);
    void settle_locked(uint64_t upto);
    void edge(unsigned offset, bool level, uint64_t ns);
    void push_event(EdgeLine& l, unsigned offset, bool rising, uint64_t ns);
    socklen_t socket_name(uint32_t request, sockaddr_un* addr);
    void signal_request(uint32_t request);
    bool request_open(uint32_t request);
    void kernel_input_locked(unsigned pin, TraceSink* sink);
    // One access of the kernel's, traced and journaled; lock held.
    uint32_t kernel_read_locked(unsigned word, TraceSink* sink);
    void kernel_write_locked(unsigned word, uint32_t value, TraceSink* sink);
    uint64_t free_request_locked(uint32_t request, TraceSink* sink);
    void reap_locked(TraceSink* sink);
    void note_line_locked(unsigned offset, uint32_t change);
    // Lock held. Entries of one step share `ns`, so readers see them as one moment.
    void log(JournalEntry::Kind kind, unsigned word, unsigned bank, uint32_t a, uint32_t b, uint32_t c,
             uint64_t ns);
    void append(TraceSink* sink, TraceRecord::Kind kind, unsigned word, uint32_t value, uint8_t flags = 0,
                uint32_t width = 4);
    bool try_lock();  // within kLockSeconds
    bool lock_within(unsigned ms);
    uint32_t stopped_holder();  // the lock's holder if it is stopped, else 0
    void lock();                // or the process ends, naming the broken board
    void unlock();
    bool open_file(const char* path, bool remake);
    bool refuse(const char* path, bool reset_cures, const char* fmt, ...)
        __attribute__((format(printf, 4, 5)));
    bool attach(const char* path, void* map);

    volatile uint32_t* regs_ = nullptr;
    ModelState* state_ = nullptr;
    FileId id_;
    char refusal_[kMessageBytes] = {};
    bool reset_cures_ = false;
    bool held_by_stopped_ = false;
    uint32_t run_ = 0;
    ModelState::RunCounts* run_counts();  // this process's run's, or null; lock held
    bool not_a_board_ = false;
};

}  // namespace tavrel_sim
