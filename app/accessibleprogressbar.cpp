#include "accessibleprogressbar.h"

#include <QAccessible>
#include <QAccessibleObject>
#include <QAccessibleValueChangeEvent>
#include <QQuickItem>
#include <QQuickWindow>

using namespace Qt::StringLiterals;

namespace {

class AccessibleProgressBar : public QAccessibleObject, public QAccessibleValueInterface
{
public:
    explicit AccessibleProgressBar(QQuickItem *bar)
        : QAccessibleObject(bar)
    { }

    [[nodiscard]] QQuickItem *bar() const { return static_cast<QQuickItem *>(object()); }

    void *interface_cast(QAccessible::InterfaceType type) override
    {
        return type == QAccessible::ValueInterface ? static_cast<QAccessibleValueInterface *>(this)
                                                   : nullptr;
    }
    [[nodiscard]] QWindow *window() const override { return bar()->window(); }
    // The nearest item above that Qt Quick shows to a screen reader, else the window.
    [[nodiscard]] QAccessibleInterface *parent() const override
    {
        for (QQuickItem *above = bar()->parentItem(); above; above = above->parentItem()) {
            if (QAccessibleInterface *shown = QAccessible::queryAccessibleInterface(above))
                return shown;
        }
        return QAccessible::queryAccessibleInterface(bar()->window());
    }
    [[nodiscard]] QAccessibleInterface *child(int) const override { return nullptr; }
    [[nodiscard]] int childCount() const override { return 0; }
    [[nodiscard]] int indexOfChild(const QAccessibleInterface *) const override { return -1; }
    [[nodiscard]] QAccessibleInterface *childAt(int, int) const override { return nullptr; }
    [[nodiscard]] QRect rect() const override
    {
        if (!bar()->window())
            return {};
        return QRectF(bar()->mapToGlobal(QPointF(0, 0)), bar()->size()).toAlignedRect();
    }
    [[nodiscard]] QAccessible::Role role() const override { return QAccessible::ProgressBar; }
    [[nodiscard]] QAccessible::State state() const override
    {
        QAccessible::State state;
        state.invisible = !bar()->isVisible();
        state.disabled = !bar()->isEnabled();
        return state;
    }
    [[nodiscard]] QString text(QAccessible::Text kind) const override
    {
        switch (kind) {
        case QAccessible::Name:
        case QAccessible::Description:
            return attached(kind == QAccessible::Name ? "name" : "description");
        case QAccessible::Value: {
            const double span = maximumValue().toDouble() - minimumValue().toDouble();
            const double part
                = span > 0 ? (currentValue().toDouble() - minimumValue().toDouble()) / span : 0;
            return u"%1 %"_s.arg(qRound(100 * qBound(0.0, part, 1.0)));
        }
        default:
            return {};
        }
    }
    void setText(QAccessible::Text, const QString &) override { }

    [[nodiscard]] QVariant currentValue() const override { return bar()->property("value"); }
    void setCurrentValue(const QVariant &) override { } // shows progress; nobody sets it
    [[nodiscard]] QVariant maximumValue() const override { return bar()->property("to"); }
    [[nodiscard]] QVariant minimumValue() const override { return bar()->property("from"); }
    [[nodiscard]] QVariant minimumStepSize() const override { return 0; }

private:
    // What the window gave the bar as Accessible.name or .description.
    [[nodiscard]] QString attached(const char *property) const
    {
        for (const QObject *child : bar()->children()) {
            if (qstrcmp(child->metaObject()->className(), "QQuickAccessibleAttached") == 0)
                return child->property(property).toString();
        }
        return {};
    }
};

QAccessibleInterface *progressBarInterface(const QString &className, QObject *object)
{
    auto *item = qobject_cast<QQuickItem *>(object);
    if (className != "QQuickProgressBar"_L1 || !item)
        return nullptr;
    if (!item->findChild<ValueTeller *>(QString(), Qt::FindDirectChildrenOnly))
        new ValueTeller(item);
    return new AccessibleProgressBar(item);
}

} // namespace

ValueTeller::ValueTeller(QQuickItem *bar)
    : QObject(bar)
{
    connect(bar, SIGNAL(valueChanged()), this, SLOT(tell()));
}

void ValueTeller::tell()
{
    QObject *bar = parent();
    QAccessibleValueChangeEvent changed(bar, bar->property("value"));
    QAccessible::updateAccessibility(&changed);
}

void installAccessibleProgressBars()
{
    QAccessible::installFactory(&progressBarInterface);
}
