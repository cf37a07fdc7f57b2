#include "widgets/display_accessibility.h"

#include <QAccessibleWidget>

#include <cstdint>
#include <mutex>

#include "widgets/digits_panel.h"

namespace norva {

namespace {

class PanelAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit PanelAccessible(TDigitsPanel* panel)
        : QAccessibleWidget(panel, QAccessible::StaticText) {}

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Value) return QString::number(Number());
        return QAccessibleWidget::text(t);
    }
    void* interface_cast(QAccessible::InterfaceType t) override {
        if (t == QAccessible::ValueInterface) return static_cast<QAccessibleValueInterface*>(this);
        return QAccessibleWidget::interface_cast(t);
    }

    QVariant currentValue() const override { return QVariant::fromValue(Number()); }
    void setCurrentValue(const QVariant& /*value*/) override {}  // a display, not an input
    QVariant maximumValue() const override {
        std::int64_t limit = 1;
        for (int i = 0; i < Panel()->Length() && limit <= INT32_MAX; ++i)
            limit *= 10;
        return QVariant::fromValue(limit - 1);
    }
    QVariant minimumValue() const override { return 0; }
    QVariant minimumStepSize() const override { return 1; }

private:
    TDigitsPanel* Panel() const { return static_cast<TDigitsPanel*>(widget()); }
    // Unsigned like the cells: the one magnitude past 32 signed bits reads as its digits.
    std::uint32_t Number() const { return static_cast<std::uint32_t>(Panel()->Value()); }
};

class StateLabelAccessible : public QAccessibleWidget {
public:
    explicit StateLabelAccessible(StateLabel* label)
        : QAccessibleWidget(label, QAccessible::StaticText) {}

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Value) return static_cast<QLabel*>(widget())->text();
        return QAccessibleWidget::text(t);
    }
};

QAccessibleInterface* DisplayFactory(const QString& className, QObject* object) {
    if (object == nullptr || !object->isWidgetType()) return nullptr;
    if (className == QLatin1String(TDigitsPanel::staticMetaObject.className()))
        return new PanelAccessible(static_cast<TDigitsPanel*>(object));
    if (className == QLatin1String(StateLabel::staticMetaObject.className()))
        return new StateLabelAccessible(static_cast<StateLabel*>(object));
    return nullptr;
}

}  // namespace

StateLabel::StateLabel(QWidget* parent) : QLabel(parent) {
    InstallDisplayAccessibility();
    setTextFormat(Qt::PlainText);
}

void StateLabel::SetState(const QString& text) {
    if (text == this->text()) return;
    setText(text);
    // Screen readers speak a label's name and description, not its value: the state goes in both.
    setAccessibleDescription(text);
    if (QAccessible::isActive()) {
        QAccessibleValueChangeEvent event(this, text);
        QAccessible::updateAccessibility(&event);
    }
}

void InstallDisplayAccessibility() {
    static std::once_flag installed;
    std::call_once(installed, [] { QAccessible::installFactory(DisplayFactory); });
}

}  // namespace norva
