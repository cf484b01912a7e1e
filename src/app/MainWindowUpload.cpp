// The upload run: what pressing Upload does, from the file list to the uploaded files.
#include "app/MainWindow.h"
#include "platform/Dialogs.h"
#include "platform/Error.h"
#include "results/SuccessWindow.h"
#include "thumbs/ThumbnailWindow.h"
#include "thumbs/Thumbnail.h"
#include "upload/UploadDrivers.h"

#include <QComboBox>
#include <QSaveFile>

namespace quaddle {

void TFormMain::BUploadClick() {
    UserCancelled = false;
    if (Files_.isEmpty()) {
        Dialogs().ShowMessage(tr("There are no files to upload."), TMsgKind::Error,
                              TMsgButtons::Ok);
        return;
    }
    const TServer server = Cfg_->GetCurrentServer();
    if (!CheckServerChosen(server))
        return;
    OfferThumbnails();

    RefreshServerDisplay(tr("Connecting"), QString());
    SetControlsEnabled(false);
    QString remoteDir = CSubdir->currentText();
    // Below a root directory, an absolute-looking remote directory is meant inside it.
    if (!server[RootDir].isEmpty() && remoteDir.startsWith(QLatin1Char('/')))
        remoteDir.prepend(QLatin1Char('.'));

    UploadResults.clear();
    try {
        RunUpload(server, remoteDir);
    } catch (const TError& error) {
        if (!UserCancelled)
            Dialogs().ShowMessage(tr("A fatal error occured: ") + LineBreak + error.Message(),
                                  TMsgKind::Error, TMsgButtons::Ok);
    }
    EndUpload();
    SetControlsEnabled(true);
    if (UserCancelled) {
        RefreshServerDisplay(tr("Upload cancelled"), QStringLiteral(" "));
        UploadProgress(QString(), 0, 0);
    } else {
        RefreshServerDisplay(QString(), QStringLiteral(" "));
    }
    if (UploadResults.isEmpty())
        return;
    if (Cfg_->GetBoolSetting(QStringLiteral("Autoclose")))
        close();
    else
        ShowResults();
}

void TFormMain::ShowResults() {
    if (!FormSuccess) {
        TSuccessHost host;
        host.Lines = [this](TTagStyle style) {
            return UrlLines(Cfg_->GetCurrentServer(), CSubdir->currentText(), UploadResults, style);
        };
        host.ShowMain = [this] {
            show();
            raise();
        };
        host.HideMain = [this] { hide(); };
        host.CloseMain = [this] { close(); };
        host.SaveConfig = [this] { SaveConfigReporting(); };
        FormSuccess = new TFormSuccess(std::move(host), this);
    }
    FormSuccess->ShowResults(RenamedFiles);
}

void TFormMain::OfferThumbnails() {
    const bool imagesWithout =
        std::any_of(Files_.begin(), Files_.end(), [](const TFileEntry& entry) {
            return entry.Thumbnail.isEmpty() && IsThumbnailSource(entry.Path);
        });
    if (!imagesWithout ||
        Dialogs().ShowMessage(tr("Looks like you are uploading some JPEG images. Do you want to "
                                 "create thumbnails for them?"),
                              TMsgKind::Question, TMsgButtons::YesNo) != TMsgAnswer::Yes)
        return;
    RefreshServerDisplay(tr("Creating thumbnails"), QString());
    TFormResize window(*Cfg_, Files_, Cfg_->GetIntSetting(QStringLiteral("ThumbWidth")),
                       Cfg_->GetIntSetting(QStringLiteral("ThumbHeight")), false, this);
    Files_ = window.Run();
}

bool TFormMain::CheckServerChosen(const TServer& server) {
    // Without a server there is nothing to connect to; a server read from a file may also
    // name a type no driver serves.
    QString problem;
    if (!Cfg_->ServerExists(Cfg_->CurrentServer))
        problem = tr("Please choose a server in the Servers menu first.");
    else if (server[Type] != QLatin1String("0") && server[Type] != QLatin1String("1"))
        problem = tr("The server \"%1\" has the unknown type \"%2\". Please choose FTP or SFTP "
                     "for it in the server manager.")
                      .arg(Cfg_->ServerNames.value(Cfg_->CurrentServer), server[Type]);
    if (problem.isEmpty())
        return true;
    Dialogs().ShowMessage(problem, TMsgKind::Error, TMsgButtons::Ok);
    return false;
}

void TFormMain::RunUpload(const TServer& server, const QString& remoteDir) {
    Upload = std::make_unique<TUpload>(
        [this](const QString& name, qint64 size, qint64 sent) { UploadProgress(name, size, sent); },
        [this](const QString& text, int index) { UploadStatus(text, index); }, server[Type].toInt(),
        Cfg_->GetIntSetting(QStringLiteral("Overwrite")),
        Cfg_->GetBoolSetting(QStringLiteral("Log")), StandardDrivers(Cfg_->ProgramDir));
    if (Cfg_->GetBoolSetting(QStringLiteral("Passive")))
        Upload->Protokoll().SetOption(TUploadProtokoll::PassiveMode);

    if (!Upload->Login(server[Hostname], server[Port], server[Username], server[Password]))
        return;
    RefreshServerDisplay(tr("Logged in, changing directory"), QString());
    if (!Upload->EnterDir(server[RootDir], false, true) ||
        !Upload->EnterDir(remoteDir, false, true))
        return;
    RefreshServerDisplay(tr("Uploading files"), QString());
    UploadResults = Upload->UploadFiles(Files_);
}

void TFormMain::EndUpload() {
    if (!Upload)
        return;
    RenamedFiles = Upload->RenamedFiles();
    const QStringList lines = Upload->LogLines();
    Upload.reset();
    WriteLog(lines);
}

void TFormMain::WriteLog(const QStringList& lines) {
    QByteArray contents;
    for (const QString& line : lines)
        contents += line.toLocal8Bit() + "\r\n";
    QSaveFile file(Cfg_->ProgramDir + QStringLiteral("log.txt"));
    if (file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size() &&
        file.flush() && file.commit())
        return;
    Dialogs().ShowMessage(
        tr("The log file \"%1\" could not be written: %2").arg(file.fileName(), file.errorString()),
        TMsgKind::Error, TMsgButtons::Ok);
}

void TFormMain::BCancelClick() {
    UserCancelled = true;
    if (Upload)
        Upload->Cancel();
}

} // namespace quaddle
