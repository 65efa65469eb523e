// SPDX-License-Identifier: MIT
// What the board's code shares between its files: every signal blocked
// around the lock, and atomic access to the words of the shared page.
#pragma once

#include <pthread.h>
#include <signal.h>
#include <stdint.h>

#include <atomic>

namespace tavrel_sim {

class SignalsBlocked {
public:
    SignalsBlocked()
    {
        sigset_t all;
        sigfillset(&all);
        pthread_sigmask(SIG_BLOCK, &all, &saved_);
    }
    ~SignalsBlocked() { pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }

private:
    sigset_t saved_;
};

template <typename T>
std::atomic<T>& atomic_ref(T& word)
{
    return *reinterpret_cast<std::atomic<T>*>(&word);
}

}  // namespace tavrel_sim
