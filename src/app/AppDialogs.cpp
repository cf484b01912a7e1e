#include "app/AppDialogs.h"

#include "config/FMasterPass.h"

#include <QApplication>

namespace quaddle {

TMasterPassResult TAppDialogs::AskMasterPassword(TMasterPassMode mode, QString& password) {
    TFMasterPass dialog(QApplication::activeWindow());
    dialog.SetMode(mode);
    dialog.SetPassword(password);
    dialog.exec();
    password = dialog.Password();
    return dialog.Outcome();
}

} // namespace quaddle
