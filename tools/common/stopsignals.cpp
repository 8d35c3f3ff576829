#include "stopsignals.h"

#include <atomic>
#include <csignal>
#include <unistd.h>

namespace stopsignals {

namespace {

std::atomic<int> received{0};

void onSignal(int number)
{
    int expected = 0;
    if (!received.compare_exchange_strong(expected, number))
        _exit(128 + number); // a second request: the user wants out now
}

} // namespace

void install()
{
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool requested()
{
    return received.load(std::memory_order_relaxed) != 0;
}

int signalNumber()
{
    return received.load(std::memory_order_relaxed);
}

void clear()
{
    received.store(0);
}

} // namespace stopsignals
