#pragma once

#include <functional>

namespace quaddle {

// SIGTERM (session logout) and SIGINT (Ctrl+C in a terminal) must close the program the
// normal way, saving its configuration, instead of killing it mid-way.
//
// CatchTerminationSignals installs the handlers; call it first thing in main, so that a signal
// arriving during start-up is kept. OnTerminationSignal, called once the application object
// exists, then runs onSignal from the event loop for every such signal, including kept ones.
void CatchTerminationSignals();
void OnTerminationSignal(std::function<void()> onSignal);

} // namespace quaddle
