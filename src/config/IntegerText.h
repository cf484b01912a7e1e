#pragma once

#include <QStringView>
#include <optional>

namespace quaddle {

// Reads a 32-bit integer the way configuration values and command-line selectors have always
// been read: leading blanks, then an optional sign, then decimal digits, or hexadecimal digits
// after "$" or "0x". Anything else, an empty text, or a value beyond 32 bits is no integer.
// Hexadecimal values up to FFFFFFFF are taken as the bit pattern of a signed integer.
std::optional<qint32> parseInteger(QStringView text);

} // namespace quaddle
