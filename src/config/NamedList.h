#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <algorithm>

namespace quaddle {

// The place of name (letter case ignored) in a list of named values, as settings are kept; -1
// when it holds none.
template <typename Value>
qsizetype indexOfName(const QList<QPair<QString, Value>>& list, const QString& name) {
    const auto found = std::find_if(list.begin(), list.end(), [&](const auto& entry) {
        return entry.first.compare(name, Qt::CaseInsensitive) == 0;
    });
    return found == list.end() ? -1 : found - list.begin();
}

} // namespace quaddle
