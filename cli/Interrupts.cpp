#include "Interrupts.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

std::atomic<int> g_nInterruptions {0};
int g_wake[2] = {-1, -1};

static_assert(std::atomic<int>::is_always_lock_free, "used from a signal handler");

void OnInterrupt(int)
{
    const int saved = errno;
    g_nInterruptions.fetch_add(1);
    const char byte = 1;
    // A full pipe already holds a wake-up.
    [[maybe_unused]] const ssize_t n = write(g_wake[1], &byte, 1);
    errno = saved;
}

} // namespace

bool CatchInterrupts()
{
    if (pipe2(g_wake, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    struct sigaction action { };
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    struct sigaction ignore { };
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    return sigaction(SIGINT, &action, nullptr) == 0 && sigaction(SIGTERM, &action, nullptr) == 0
        && sigaction(SIGPIPE, &ignore, nullptr) == 0;
}

int Interruptions()
{
    return g_nInterruptions.load();
}

int InterruptFd()
{
    return g_wake[0];
}

void DrainInterrupts()
{
    char bytes[64];
    while (read(g_wake[0], bytes, sizeof bytes) > 0) { }
}
