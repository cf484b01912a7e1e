#pragma once

#include <QString>

namespace quaddle {

const QString AppName = QStringLiteral("Quaddle");
// The desktop entry's name without ".desktop", and the software catalogues' id: the website's
// domain reversed.
const QString AppId = QStringLiteral("org.example.quaddle");
// The icon's name in the desktop's icon theme, as the desktop entry names it.
const QString AppIconName = QStringLiteral("quaddle");
const QString AppVersion = QStringLiteral(QUADDLE_VERSION);
// The terms the program is given under, as the about box states them.
const QString AppLicence =
    QStringLiteral("Free software under the GNU General Public License, version 3 or later, "
                   "without any warranty.");

} // namespace quaddle
