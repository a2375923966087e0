#pragma once

// Names the calling thread (at most 15 characters are kept) and lowers its
// scheduling priority, so background sampling yields to the user's own work
// and to the interface thread.
void makeCurrentThreadUtility(const char *name);
