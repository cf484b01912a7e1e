#pragma once

#include "platform/Dialogs.h"

#include <QByteArrayView>
#include <QList>
#include <cstddef>
#include <cstdint>

// Every fuzz target defines this; libFuzzer or RunCorpus.cpp calls it once per input.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace quaddle::fuzz {

// Answers every question the quickest way out: OK where a message box has it (to go on past a
// new host key and a refused login), No or cancel to everything else.
class QuietDialogs : public Dialogs {
public:
    MessageAnswer showMessage(const QString&, MessageKind, MessageButtons) override {
        return MessageAnswer::Ok;
    }
    void notify(MessageKind, const QString&) override {}
    QStringList chooseFiles(const QString&) override { return {}; }
    MasterPasswordResult askMasterPassword(MasterPasswordMode, QString&) override {
        return MasterPasswordResult::Abort;
    }
    bool confirmLosingLockedLogins() override { return false; }
    bool confirmUnencryptedPassword(bool) override { return false; }
    bool askLogin(const LoginTarget&, LoginAnswer&) override { return false; }
    bool retryLogin(const LoginTarget&, const QString&) override { return true; }
    FileExistsAnswer askFileExists(const QString&) override { return {}; }
    MissingDirAnswer askMissingDir(const QString&) override { return MissingDirAnswer::Cancel; }
    bool trustIdentity(const IdentityQuestion& question) override {
        return question.kind == IdentityKind::HostKey && !question.changed;
    }
    ErrorAnswer continueAfterError(const QString&) override { return ErrorAnswer::Stop; }
    ThumbnailAnswer offerThumbnails(ThumbnailImages) override { return {}; }
};

// Creates the application object once, on Qt's offscreen platform, with a throw-away
// settings store and QuietDialogs installed.
void ensureApplication();

// The input cut into consecutive pieces. Seed 0 cuts after every byte; other seeds give
// pieces of pseudo-random sizes from 1 to seed bytes, so that every boundary gets tried.
QList<QByteArrayView> pieces(QByteArrayView data, uint8_t seed);

} // namespace quaddle::fuzz
