#include "configwindow/SettingControls.h"

#include "config/Config.h"
#include "config/IntegerText.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

namespace quaddle {

namespace {

QLabel* RedFlag(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    QPalette red = label->palette();
    red.setColor(QPalette::WindowText, Qt::red);
    label->setPalette(red);
    return label;
}

QWidget* CheckBox(TCfg& cfg, const QString& name, QWidget* parent, const QString& caption) {
    auto* box = new QCheckBox(caption, parent);
    box->setChecked(cfg.GetSetting(name).toLower() == QLatin1String("true"));
    QObject::connect(box, &QCheckBox::clicked, box, [&cfg, name](bool checked) {
        cfg.SetSetting(name, TSettingValue::Boolean(checked));
    });
    return box;
}

QWidget* ChoiceList(TCfg& cfg, const QString& name, QWidget* parent, const TValueList& valueList) {
    auto* list = new QComboBox(parent);
    for (const auto& [number, caption] : valueList)
        list->addItem(caption, number);
    const std::optional<qint32> stored = ParseInteger(cfg.GetSetting(name));
    list->setCurrentIndex(stored ? list->findData(*stored) : -1);
    QObject::connect(list, &QComboBox::activated, list, [&cfg, name, list](int index) {
        cfg.SetSetting(name, TSettingValue::Integer(list->itemData(index).toInt()));
    });
    return list;
}

QWidget* Edit(TCfg& cfg, const QString& name, QWidget* parent) {
    auto* edit = new QLineEdit(cfg.GetSetting(name), parent);
    QObject::connect(edit, &QLineEdit::textEdited, edit, [&cfg, name](const QString& text) {
        cfg.SetSetting(name, TSettingValue::Text(text));
    });
    return edit;
}

} // namespace

QWidget* CreateSettingControl(TCfg& cfg, const QString& name, QWidget* parent,
                              const QString& caption, const std::optional<TValueList>& valueList) {
    // Controls remember the setting's name, not its place in the list: emptying an edit
    // removes the value, which moves the settings after it.
    QWidget* control = nullptr;
    const std::optional<TSettingType> type = cfg.GetSettingType(name);
    const int code = type ? int(*type) & 0xFFF : 0;
    const bool numeric = code == int(TSettingType::Integer) || code == int(TSettingType::Double);
    if (!type)
        control = RedFlag(QStringLiteral("!! Unknown: ") + name, parent);
    else if (code == int(TSettingType::Boolean))
        control = CheckBox(cfg, name, parent, caption);
    else if (numeric && valueList)
        control = ChoiceList(cfg, name, parent, *valueList);
    else if (numeric || code == int(TSettingType::WideText) || code == int(TSettingType::Text))
        control = Edit(cfg, name, parent);
    else
        control = RedFlag(QStringLiteral("!! Unknown Type: ") + QString::number(code), parent);
    control->setObjectName(QStringLiteral("CFGFeld") + name);
    return control;
}

} // namespace quaddle
