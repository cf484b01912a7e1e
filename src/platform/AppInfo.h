#pragma once

#include <QString>

namespace quaddle {

const QString AppName = QStringLiteral("Quaddle");
const QString AppVersion = QStringLiteral(QUADDLE_VERSION);

} // namespace quaddle
