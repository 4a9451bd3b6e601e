// Posted events and queued calls reach the GUI thread through Qt's event
// queue, whose lock (a futex inside the Qt library, which is not built with
// ThreadSanitizer) the sanitizer cannot see: it would take every value a
// plug-in thread hands to the window for a race. These two marks name that
// hand-over where it is made. They do nothing in an ordinary build.
#pragma once

// Before posting to the window, on any thread.
void MarkPosted();
// On the GUI thread, before a posted event is looked at or deleted (Qt may
// delete one undelivered, when its receiver is gone first).
void MarkDelivered();
