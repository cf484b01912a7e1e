#include "configwindow/SettingControls.h"

#include "config/Config.h"
#include "config/IntegerText.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

namespace quaddle {

namespace {

QLabel* redFlag(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    QPalette red = label->palette();
    red.setColor(QPalette::WindowText, Qt::red);
    label->setPalette(red);
    return label;
}

QWidget* checkBox(Config& config, const QString& name, QWidget* parent, const QString& caption) {
    auto* box = new QCheckBox(caption, parent);
    box->setChecked(config.setting(name).toLower() == QLatin1String("true"));
    QObject::connect(box, &QCheckBox::clicked, box, [&config, name](bool checked) {
        config.setSetting(name, SettingValue::boolean(checked));
    });
    return box;
}

QWidget* choiceList(Config& config, const QString& name, QWidget* parent,
                    const ValueList& valueList) {
    auto* list = new QComboBox(parent);
    for (const auto& [number, caption] : valueList)
        list->addItem(caption, number);
    const std::optional<qint32> stored = parseInteger(config.setting(name));
    list->setCurrentIndex(stored ? list->findData(*stored) : -1);
    QObject::connect(list, &QComboBox::activated, list, [&config, name, list](int index) {
        config.setSetting(name, SettingValue::integer(list->itemData(index).toInt()));
    });
    return list;
}

QWidget* edit(Config& config, const QString& name, QWidget* parent) {
    auto* edit = new QLineEdit(config.setting(name), parent);
    QObject::connect(edit, &QLineEdit::textEdited, edit, [&config, name](const QString& text) {
        config.setSetting(name, SettingValue::text(text));
    });
    return edit;
}

} // namespace

QWidget* createSettingControl(Config& config, const QString& name, QWidget* parent,
                              const QString& caption, const std::optional<ValueList>& valueList) {
    // Controls remember the setting's name, not its place in the list: emptying an edit
    // removes the value, which moves the settings after it.
    QWidget* control = nullptr;
    const std::optional<SettingType> type = config.settingType(name);
    const int code = type ? int(*type) & 0xFFF : 0;
    const bool numeric = code == int(SettingType::Integer) || code == int(SettingType::Double);
    if (!type)
        control = redFlag(QStringLiteral("!! Unknown: ") + name, parent);
    else if (code == int(SettingType::Boolean))
        control = checkBox(config, name, parent, caption);
    else if (numeric && valueList)
        control = choiceList(config, name, parent, *valueList);
    else if (numeric || code == int(SettingType::WideText) || code == int(SettingType::Text))
        control = edit(config, name, parent);
    else
        control = redFlag(QStringLiteral("!! Unknown Type: ") + QString::number(code), parent);
    control->setObjectName(QStringLiteral("setting") + name);
    return control;
}

} // namespace quaddle
