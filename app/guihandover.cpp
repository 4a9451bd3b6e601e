#include "guihandover.h"

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>

namespace {

// One queue per window thread, as in Qt: every post is released into it and
// every delivery acquires all posts before it.
char g_queue;

} // namespace

void MarkPosted()
{
    __tsan_release(&g_queue);
}

void MarkDelivered()
{
    __tsan_acquire(&g_queue);
}
#else
void MarkPosted() { }

void MarkDelivered() { }
#endif
