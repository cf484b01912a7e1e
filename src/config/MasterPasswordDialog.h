#pragma once

#include "platform/Dialogs.h"

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace quaddle {

// The master-password dialog: asks for the password (mode Eingabe) or for a new one, typed
// twice (mode Setzen). Its result is OK, cancel (also by the close box), or Abort.
class TFMasterPass : public QDialog {
    Q_OBJECT

public:
    enum { ResultAbort = 2 };

    explicit TFMasterPass(QWidget* parent = nullptr);

    void SetMode(TMasterPassMode mode);
    QString Password() const;
    void SetPassword(const QString& password);
    TMasterPassResult Outcome() const;

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void BOkClick() { done(Accepted); }
    void BDontLoadClick() { done(Rejected); }
    void BSetClick();
    void BAbortClick() { done(ResultAbort); }

    TMasterPassMode Mode = TMasterPassMode::Eingabe;
    QLabel* LPass = nullptr;
    QLineEdit* EPass = nullptr;
    QWidget* PEingabe = nullptr;
    QPushButton* BOk = nullptr;
    QWidget* PSetzen = nullptr;
    QLineEdit* ERepeat = nullptr;
    QPushButton* BSet = nullptr;
};

} // namespace quaddle
