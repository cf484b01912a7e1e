#include "config/FileList.h"

#include <QCollator>
#include <algorithm>
#include <numeric>
#include <vector>

namespace quaddle {

namespace {

// The C locale's collation compares code points and cannot ignore case, so a user without a
// locale gets the common root order instead.
QCollator userCollator() {
    QLocale locale;
    if (locale.language() == QLocale::C)
        locale = QLocale(QLocale::English);
    QCollator collator(locale);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    return collator;
}

} // namespace

void sortFiles(FileList& files) {
    const QCollator collator = userCollator();
    // The sort key has always been the path, a bar and the thumbnail path, so two entries of
    // the same file order by their thumbnails.
    std::vector<QCollatorSortKey> keys;
    keys.reserve(files.size());
    for (const FileEntry& entry : std::as_const(files))
        keys.push_back(collator.sortKey(entry.path + QLatin1Char('|') + entry.thumbnail));

    std::vector<qsizetype> order(files.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](qsizetype left, qsizetype right) {
        return keys[left].compare(keys[right]) < 0;
    });

    FileList sorted;
    sorted.reserve(files.size());
    for (const qsizetype index : order)
        sorted.append(files[index]);
    files = std::move(sorted);
}

QString fileNameOf(const QString& path) {
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

} // namespace quaddle
