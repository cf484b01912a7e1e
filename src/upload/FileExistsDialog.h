#pragma once

#include "platform/Dialogs.h"

#include <QDialog>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace quaddle {

// The question about a remote clash: what to do with a file that exists on the server
// already, or whether to create a missing directory. Kept and reused; the "Remember" tick
// stays from one showing to the next.
class TFormDialog : public QDialog {
    Q_OBJECT

public:
    explicit TFormDialog(QWidget* parent = nullptr);

    // Shows the question modally; the answer as TDialogs::AskUser describes it.
    int Ask(TAskMode mode, const QString& name);

    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void SetMode(TAskMode mode, const QString& name);
    void ButtonClick(int tag);

    int Answer = 0;
    QLabel* LWhat = nullptr;
    QLineEdit* EditFilename = nullptr;
    QLabel* LText = nullptr;
    QWidget* PUnten = nullptr;
    QCheckBox* CRemember = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;
    QPushButton* Button3 = nullptr;
};

} // namespace quaddle
