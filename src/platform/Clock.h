#pragma once

#include <QtGlobal>
#include <functional>

namespace quaddle {

// Milliseconds from a monotonic clock, for speeds and time-outs: a change of the wall clock
// never makes them jump. Replaceable so that tests can step time themselves.
using Clock = std::function<qint64()>;

Clock monotonicClock();

} // namespace quaddle
