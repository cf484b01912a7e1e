#pragma once

#include <functional>

namespace quaddle {

// SIGTERM (session logout) and SIGINT (Ctrl+C in a terminal) must close the program the
// normal way, saving its configuration, instead of killing it mid-way.
//
// catchTerminationSignals installs the handlers; call it first thing in main, so that a signal
// arriving during start-up is kept. onTerminationSignal, called once the application object
// exists, then runs onSignal from the event loop for every such signal, including kept ones.
void catchTerminationSignals();
void onTerminationSignal(std::function<void()> onSignal);
// Ends the program as the last termination signal would have without a handler: for stages
// where there is nothing to close the normal way yet.
void endByTerminationSignal();

} // namespace quaddle
