#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <functional>
#include <optional>

class QWidget;

namespace quaddle {

class Config;

// The choices of a numeric setting: the stored number and its caption.
using ValueList = QList<QPair<qint32, QString>>;

// Creates the control that edits a setting, from its stored type: a check box for a boolean,
// a drop-down list for a number with choices, an edit for a number without choices or for
// text, and a red-flag label for an unknown setting or type. Every change is stored at once.
// The control is named "setting" + name; the caller places it. stored, when given, is called
// after each change is stored.
QWidget* createSettingControl(Config& config, const QString& name, QWidget* parent,
                              const QString& caption,
                              const std::optional<ValueList>& valueList = std::nullopt,
                              const std::function<void()>& stored = {});

} // namespace quaddle
