#include "configwindow/SettingControls.h"

#include "config/Config.h"
#include "config/IntegerText.h"

#include <QCheckBox>
#include <QComboBox>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <limits>

namespace quaddle {

namespace {

QLabel* redFlag(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    // The name comes from config.xml and is shown as written.
    label->setTextFormat(Qt::PlainText);
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

// Takes whole numbers in [bottom, top] only. An edit left with anything else, such as a
// number still too small, shows the stored value again instead.
class WholeNumberValidator : public QIntValidator {
public:
    WholeNumberValidator(const Config& config, QString name, int bottom, int top, QObject* parent)
        : QIntValidator(bottom, top, parent), m_config(config), m_name(std::move(name)) {
        // Digits as config.xml holds them: no thousands separators of the user's language.
        QLocale plain = QLocale::c();
        plain.setNumberOptions(QLocale::RejectGroupSeparator);
        setLocale(plain);
    }

    void fixup(QString& input) const override { input = m_config.setting(m_name); }

private:
    const Config& m_config;
    QString m_name;
};

QPair<int, int> wholeNumberRange(const QString& name, SettingType type) {
    if (name.compare(QLatin1String("ThumbWidth"), Qt::CaseInsensitive) == 0 ||
        name.compare(QLatin1String("ThumbHeight"), Qt::CaseInsensitive) == 0)
        return {16, 4096};
    if (name.compare(QLatin1String("Connections"), Qt::CaseInsensitive) == 0)
        return {1, Config::MaxConnections};
    if (type == SettingType::Byte)
        return {0, 255};
    return {std::numeric_limits<qint32>::min(), std::numeric_limits<qint32>::max()};
}

// Only an acceptable number is stored, with the setting's own type, so that the next start
// finds a number again.
QWidget* wholeNumberEdit(Config& config, const QString& name, SettingType type, QWidget* parent) {
    auto* edit = new QLineEdit(config.setting(name), parent);
    const auto [bottom, top] = wholeNumberRange(name, type);
    edit->setValidator(new WholeNumberValidator(config, name, bottom, top, edit));
    QObject::connect(edit, &QLineEdit::textEdited, edit, [&config, name, type, edit] {
        if (!edit->hasAcceptableInput())
            return;
        const std::optional<qint32> value = parseInteger(edit->text());
        if (!value)
            return;
        if (type == SettingType::Byte)
            config.setSetting(name, SettingValue::byte(quint8(*value)));
        else if (type == SettingType::Double)
            config.setSetting(name, SettingValue::fromDouble(*value));
        else
            config.setSetting(name, SettingValue::integer(*value));
    });
    return edit;
}

// Connected after the control's own storing, so stored runs once the value is in the
// configuration; an edit reports when its editing ends rather than at every key.
void reportStored(QWidget* control, const std::function<void()>& stored) {
    if (auto* box = qobject_cast<QCheckBox*>(control))
        QObject::connect(box, &QCheckBox::clicked, box, stored);
    else if (auto* list = qobject_cast<QComboBox*>(control))
        QObject::connect(list, &QComboBox::activated, list, stored);
    else if (auto* edit = qobject_cast<QLineEdit*>(control))
        QObject::connect(edit, &QLineEdit::editingFinished, edit, stored);
}

} // namespace

QWidget* createSettingControl(Config& config, const QString& name, QWidget* parent,
                              const QString& caption, const std::optional<ValueList>& valueList,
                              const std::function<void()>& stored) {
    // Controls remember the setting's name, not its place in the list: emptying an edit
    // removes the value, which moves the settings after it.
    QWidget* control = nullptr;
    const std::optional<SettingType> type = config.settingType(name);
    const int code = type ? int(*type) & 0xFFF : 0;
    const bool numeric = code == int(SettingType::Integer) || code == int(SettingType::Double) ||
                         code == int(SettingType::Byte);
    if (!type)
        control = redFlag(QStringLiteral("!! Unknown: ") + name, parent);
    else if (code == int(SettingType::Boolean))
        control = checkBox(config, name, parent, caption);
    else if (numeric && valueList)
        control = choiceList(config, name, parent, *valueList);
    else if (numeric)
        control = wholeNumberEdit(config, name, SettingType(code), parent);
    else if (code == int(SettingType::WideText) || code == int(SettingType::Text))
        control = edit(config, name, parent);
    else
        control = redFlag(QStringLiteral("!! Unknown Type: ") + QString::number(code), parent);
    control->setObjectName(QStringLiteral("setting") + name);
    if (stored)
        reportStored(control, stored);
    return control;
}

} // namespace quaddle
