// SPDX-License-Identifier: MIT
// The board for tests, over the model's own view of the board file.
#include "tavrel_simboard.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include <new>

#include "model/board.h"

using tavrel_sim::Board;

struct tavrel_simboard {
    Board board;
};

namespace {

bool bad_pin(tavrel_simboard* board, int32_t pin)
{
    if (pin >= 0 && pin < static_cast<int32_t>(tavrel_sim::pin_count(board->board.soc()))) return false;
    errno = EINVAL;
    return true;
}

// Polls `reached` every 200 us until it holds or `timeout_ms` pass.
template <typename Reached>
int wait_until(int32_t timeout_ms, Reached reached)
{
    uint64_t deadline =
        tavrel_sim::monotonic_ns() + static_cast<uint64_t>(timeout_ms < 0 ? 0 : timeout_ms) * 1000000;
    for (;;) {
        if (reached()) return 0;
        if (tavrel_sim::monotonic_ns() >= deadline) {
            errno = ETIMEDOUT;
            return -1;
        }
        timespec pause = {0, 200000};
        nanosleep(&pause, nullptr);
    }
}

}  // namespace

extern "C" {

tavrel_simboard* tavrel_simboard_open(const char* path, char* why, size_t why_size)
{
    char fallback[4096], reason[tavrel_sim::kMessageBytes];
    if (!path) {
        if (!tavrel_sim::default_board_path(fallback, sizeof fallback, reason, sizeof reason)) {
            if (why && why_size) snprintf(why, why_size, "no safe place for the default board: %s", reason);
            errno = EACCES;
            return nullptr;
        }
        path = fallback;
    }
    void* memory = malloc(sizeof(tavrel_simboard));
    if (!memory) return nullptr;
    auto* b = new (memory) tavrel_simboard;
    if (!b->board.open(path)) {
        int err = errno;
        if (why && why_size) snprintf(why, why_size, "%s: %s", path, b->board.refusal());
        b->~tavrel_simboard();
        free(memory);
        errno = err;
        return nullptr;
    }
    return b;
}

void tavrel_simboard_close(tavrel_simboard* board)
{
    if (!board) return;
    board->~tavrel_simboard();
    free(board);
}

int tavrel_simboard_reset(tavrel_simboard* board)
{
    board->board.clear();
    return 0;
}

int tavrel_simboard_drive(tavrel_simboard* board, int32_t pin, int32_t level)
{
    if (bad_pin(board, pin)) return -1;
    if (level != 0 && level != 1) {
        errno = EINVAL;
        return -1;
    }
    board->board.drive(static_cast<unsigned>(pin), level == 1);
    return 0;
}

int tavrel_simboard_release(tavrel_simboard* board, int32_t pin)
{
    if (bad_pin(board, pin)) return -1;
    board->board.release(static_cast<unsigned>(pin));
    return 0;
}

int32_t tavrel_simboard_level(tavrel_simboard* board, int32_t pin)
{
    return bad_pin(board, pin) ? -1 : board->board.level(static_cast<unsigned>(pin));
}

int32_t tavrel_simboard_function(tavrel_simboard* board, int32_t pin)
{
    return bad_pin(board, pin) ? -1 : static_cast<int32_t>(board->board.fsel(static_cast<unsigned>(pin)));
}

int32_t tavrel_simboard_pull(tavrel_simboard* board, int32_t pin)
{
    return bad_pin(board, pin) ? -1 : static_cast<int32_t>(board->board.pull(static_cast<unsigned>(pin)));
}

namespace {

// The API's chip numbers, in Soc order.
constexpr int32_t kSocNumbers[] = {TAVREL_SIMBOARD_BCM2835, TAVREL_SIMBOARD_BCM2711, TAVREL_SIMBOARD_BCM2712};
static_assert(sizeof kSocNumbers / sizeof *kSocNumbers == tavrel_sim::kSocCount, "a number for every chip");

}  // namespace

int tavrel_simboard_set_soc(tavrel_simboard* board, int32_t soc)
{
    for (uint32_t i = 0; i < tavrel_sim::kSocCount; ++i)
        if (kSocNumbers[i] == soc) {
            board->board.set_soc(static_cast<tavrel_sim::Soc>(i));
            return 0;
        }
    errno = EINVAL;
    return -1;
}

int32_t tavrel_simboard_soc(tavrel_simboard* board)
{
    return kSocNumbers[static_cast<uint32_t>(board->board.soc())];
}

uint32_t tavrel_simboard_errors(tavrel_simboard* board)
{
    return board->board.errors();
}

int tavrel_simboard_wait_level(tavrel_simboard* board, int32_t pin, int32_t level, int32_t timeout_ms)
{
    if (bad_pin(board, pin)) return -1;
    if (level != 0 && level != 1) {
        errno = EINVAL;
        return -1;
    }
    return wait_until(timeout_ms,
                      [&] { return board->board.level(static_cast<unsigned>(pin)) == (level == 1); });
}

int tavrel_simboard_wait_function(tavrel_simboard* board, int32_t pin, int32_t function, int32_t timeout_ms)
{
    if (bad_pin(board, pin)) return -1;
    if (function < 0 || function >= static_cast<int32_t>(tavrel_sim::kFunctionCodes)) {
        errno = EINVAL;
        return -1;
    }
    return wait_until(timeout_ms, [&] {
        return board->board.fsel(static_cast<unsigned>(pin)) == static_cast<unsigned>(function);
    });
}

int tavrel_simboard_wait_held(tavrel_simboard* board, int32_t pin, int32_t timeout_ms)
{
    if (bad_pin(board, pin)) return -1;
    return wait_until(timeout_ms, [&] { return board->board.held(static_cast<unsigned>(pin)); });
}

int tavrel_simboard_wait_free(tavrel_simboard* board, int32_t pin, int32_t timeout_ms)
{
    if (bad_pin(board, pin)) return -1;
    return wait_until(timeout_ms, [&] { return !board->board.held(static_cast<unsigned>(pin)); });
}

}  // extern "C"
