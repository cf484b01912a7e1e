// Saving over a config.xml that another program (a second window, a command-line run that
// remembered a certificate) wrote after this one read it: what this program changed since its
// snapshot is applied onto the newer file, so neither program's change is lost.
//
// The rules, chosen so that the other program's change is never dropped without a word:
// - A setting changed here takes the value given here (the user's later choice); every other
//   setting keeps the newer file's value.
// - A server is found in the newer file as the same server unchanged, else as the one of the
//   same name or host, or at the same place, between the two unchanged ones around it.
// - A server changed on one side only takes that side's version. Changed on both sides, the
//   fields merge one by one and folders added or deleted on either side are added or deleted.
//   When both sides changed the same field differently, both versions are kept, this program's
//   as a new server.
// - A server deleted on one side and changed on the other is kept, with the change, and the
//   user is told.
// - While the credentials are locked, or when the newer file is encrypted with a master password
//   this program does not know, the credentials cannot be carried over: the file is left as it
//   is and the save fails with the reason.
#include "config/Config.h"
#include "config/NamedList.h"
#include "platform/Dialogs.h"
#include "platform/Error.h"

#include <QFileInfo>
#include <algorithm>
#include <array>

namespace quaddle {

namespace {

const QString VerifierSetting = QStringLiteral("PH");

constexpr std::array<QString ServerRecord::*, 12> RecordFields{
    &ServerRecord::host,    &ServerRecord::user,        &ServerRecord::password,
    &ServerRecord::rootDir, &ServerRecord::defaultDir,  &ServerRecord::urlMask,
    &ServerRecord::port,    &ServerRecord::type,        &ServerRecord::keyFile,
    &ServerRecord::chmod,   &ServerRecord::trustedCert, &ServerRecord::sshClient,
};

template <typename Value>
std::optional<Value> valueNamed(const QList<QPair<QString, Value>>& list, const QString& name) {
    const qsizetype index = indexOfName(list, name);
    if (index < 0)
        return std::nullopt;
    return list[index].second;
}

// Theirs, with every entry that mine changed since base set (or removed) as in mine.
template <typename Value>
QList<QPair<QString, Value>> mergedList(const QList<QPair<QString, Value>>& base,
                                        const QList<QPair<QString, Value>>& mine,
                                        QList<QPair<QString, Value>> theirs) {
    QStringList names;
    for (const auto& list : {mine, base})
        for (const auto& [name, value] : list)
            if (!names.contains(name, Qt::CaseInsensitive))
                names.append(name);
    for (const QString& name : names) {
        const std::optional<Value> here = valueNamed(mine, name);
        if (here == valueNamed(base, name))
            continue;
        const qsizetype index = indexOfName(theirs, name);
        if (!here && index >= 0)
            theirs.removeAt(index);
        else if (here && index < 0)
            theirs.append({name, *here});
        else if (here)
            theirs[index] = {name, *here};
    }
    return theirs;
}

// The folders of there, less those deleted here, with those added here.
QStringList mergedFolders(const QStringList& base, const QStringList& here,
                          const QStringList& there) {
    QStringList merged;
    for (const QString& folder : there)
        if (!base.contains(folder) || here.contains(folder))
            merged.append(folder);
    for (const QString& folder : here)
        if (!base.contains(folder) && !merged.contains(folder))
            merged.append(folder);
    return merged;
}

// Whether two versions of a server that differ look like the same server changed.
bool sameServer(const ServerEntry& one, const ServerEntry& other) {
    return one.name == other.name || one.record.host == other.record.host;
}

// Which of theirs stands for each of base's servers, -1 for none (deleted there). Unchanged
// servers pair first, in order. Between two of them, a changed server pairs with one of the same
// name or host, and those left pair in order when as many are left on each side; else those of
// base count as deleted there and those of theirs as added there.
QList<qsizetype> pairServers(const ServerEntries& base, const ServerEntries& theirs) {
    QList<qsizetype> pairs(base.size(), -1);
    qsizetype next = 0;
    for (qsizetype index = 0; index < base.size(); ++index) {
        if (!base[index].exists())
            continue;
        for (qsizetype there = next; there < theirs.size(); ++there)
            if (theirs[there].exists() && theirs[there] == base[index]) {
                pairs[index] = there;
                next = there + 1;
                break;
            }
    }
    qsizetype baseFrom = 0;
    qsizetype theirsFrom = 0;
    for (qsizetype index = 0; index <= base.size(); ++index) {
        if (index < base.size() && pairs[index] < 0)
            continue;
        const qsizetype theirsTo = index < base.size() ? pairs[index] : theirs.size();
        QList<qsizetype> changedHere;
        for (qsizetype gap = baseFrom; gap < index; ++gap)
            if (base[gap].exists())
                changedHere.append(gap);
        QList<qsizetype> changedThere;
        for (qsizetype gap = theirsFrom; gap < theirsTo; ++gap)
            if (theirs[gap].exists())
                changedThere.append(gap);
        QList<qsizetype> leftHere;
        for (const qsizetype here : changedHere) {
            const auto same =
                std::find_if(changedThere.begin(), changedThere.end(), [&](qsizetype there) {
                    return sameServer(base[here], theirs[there]);
                });
            if (same == changedThere.end()) {
                leftHere.append(here);
                continue;
            }
            pairs[here] = *same;
            changedThere.erase(same);
        }
        if (leftHere.size() == changedThere.size())
            for (qsizetype pair = 0; pair < leftHere.size(); ++pair)
                pairs[leftHere[pair]] = changedThere[pair];
        baseFrom = index + 1;
        theirsFrom = theirsTo + 1;
    }
    return pairs;
}

// There with here's changes since base, field by field; nothing when both changed a field
// differently.
std::optional<ServerEntry> mergedEntry(const ServerEntry& base, const ServerEntry& here,
                                       const ServerEntry& there) {
    ServerEntry merged = there;
    bool conflict = false;
    const auto mergeField = [&conflict](const QString& before, const QString& mine,
                                        const QString& theirs, QString& result) {
        if (mine == before)
            return;
        conflict = conflict || (theirs != before && theirs != mine);
        result = mine;
    };
    mergeField(base.name, here.name, there.name, merged.name);
    for (QString ServerRecord::*field : RecordFields)
        mergeField(base.record.*field, here.record.*field, there.record.*field,
                   merged.record.*field);
    merged.folders = mergedFolders(base.folders, here.folders, there.folders);
    if (conflict)
        return std::nullopt;
    return merged;
}

} // namespace

bool Config::mergeNewerFile(const QByteArray& newer, const QString& path) {
    if (!changedSinceSnapshot())
        return false;
    if (credentialsLocked)
        throw Error(QStringLiteral(
            "another program changed it meanwhile, and your changes can only be added to it "
            "after you enter your master password (File menu, \"Enter Master Password\"). The "
            "file was left as it is."));
    Config theirs;
    theirs.programDir = programDir;
    bool unknownKey = false;
    try {
        theirs.readContents(newer, [this, &unknownKey](Config& read) {
            const std::optional<QString> key = keyOf(read);
            if (!key) {
                unknownKey = true;
                throw Error(QString());
            }
            read.masterPassword = *key;
            read.masterPasswordActive = !key->isEmpty();
            read.credentialsLocked = false;
        });
    } catch (const Error&) {
        if (unknownKey)
            throw Error(QStringLiteral(
                "another program changed it meanwhile and protected it with another master "
                "password, so your changes cannot be added to it. The file was left as it is."));
        // Like a damaged file found at the start, it is kept aside before it is replaced.
        m_keepDamagedFile = true;
        dialogs().notify(MessageKind::Error,
                         QStringLiteral("Another program left \"%1\" unreadable. It is kept as "
                                        "\"%2\", and this program's configuration is saved in "
                                        "its place.")
                             .arg(path, QFileInfo(damagedCopyPath()).absoluteFilePath()));
        return true;
    }
    m_keepDamagedFile = false;
    m_settingValues = mergedList(m_snapshot.settingValues, m_settingValues, theirs.m_settingValues);
    m_settingTypes = mergedList(m_snapshot.settingTypes, m_settingTypes, theirs.m_settingTypes);
    // The credentials are written with the key the merged verifier names: this program's, unless
    // only the other program changed the master password.
    if (!keyFits(masterPassword)) {
        masterPassword = theirs.masterPassword;
        masterPasswordActive = !masterPassword.isEmpty();
    }
    for (const QString& note : mergeServers(theirs.serverEntries()))
        dialogs().notify(MessageKind::Information, note);
    return true;
}

bool Config::keyFits(const QString& key) const {
    const QString verifier = setting(VerifierSetting);
    return verifier.isEmpty() ? key.isEmpty() : hashPassword(key) == verifier;
}

std::optional<QString> Config::keyOf(const Config& theirs) const {
    for (const QString& known : {masterPassword, m_snapshot.masterPassword, QString()})
        if (theirs.keyFits(known))
            return known;
    return std::nullopt;
}

QStringList Config::mergeServers(const ServerEntries& theirs) {
    const ServerEntries base = m_snapshot.servers;
    const ServerEntries mine = serverEntries();
    const QList<qsizetype> pairs = pairServers(base, theirs);
    QList<bool> paired(theirs.size(), false);
    QStringList notes;
    ServerEntries addedThere;
    ServerEntries addedHere;
    for (qint32 index = 0; index < base.size(); ++index) {
        if (!base[index].exists())
            continue;
        const ServerEntry there = pairs[index] < 0 ? ServerEntry{} : theirs[pairs[index]];
        if (pairs[index] >= 0)
            paired[pairs[index]] = true;
        const ServerEntry& here = mine[index];
        if (here == base[index]) {
            if (!(here == there))
                putServerEntry(index, there);
            continue;
        }
        if (there == base[index])
            continue;
        if (!here.exists()) {
            if (there.exists()) {
                notes.append(QStringLiteral("The server \"%1\" was deleted here, but another "
                                            "program changed it meanwhile; it is kept with "
                                            "those changes.")
                                 .arg(there.name));
                putServerEntry(index, there);
            }
            continue;
        }
        if (!there.exists()) {
            notes.append(QStringLiteral("The server \"%1\" was changed here, but another program "
                                        "deleted it meanwhile; it is kept with the changes made "
                                        "here.")
                             .arg(here.name));
            continue;
        }
        if (const std::optional<ServerEntry> merged = mergedEntry(base[index], here, there)) {
            putServerEntry(index, *merged);
            continue;
        }
        notes.append(QStringLiteral("The server \"%1\" was changed here and by another program at "
                                    "the same time; both versions are kept, the one changed here "
                                    "as the last server.")
                         .arg(here.name));
        putServerEntry(index, there);
        addedHere.append(here);
    }
    for (qsizetype there = 0; there < theirs.size(); ++there)
        if (!paired[there] && theirs[there].exists())
            addedThere.append(theirs[there]);
    for (const ServerEntry& entry : addedThere + addedHere)
        putServerEntry(static_cast<qint32>(servers.size()), entry);
    return notes;
}

} // namespace quaddle
