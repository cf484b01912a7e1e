#include "platform/Clock.h"

#include <QElapsedTimer>
#include <memory>

namespace quaddle {

Clock monotonicClock() {
    auto timer = std::make_shared<QElapsedTimer>();
    timer->start();
    return [timer] { return timer->elapsed(); };
}

} // namespace quaddle
