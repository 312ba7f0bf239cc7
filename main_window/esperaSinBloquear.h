#pragma once

#include <functional>

// Runs `trabajo` on a thread of its own and returns once that thread has
// ended. Meanwhile the calling thread, the user-interface one, runs a local
// event loop that repaints the window and answers the window system but takes
// no user input: keys, clicks and close requests stay queued until the caller
// is back in its own loop. Whatever `trabajo` throws is rethrown here.
void esperaSinBloquear(const std::function<void()>& trabajo);
