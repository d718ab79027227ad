#include "accessiblecontrols.h"

#include <QAccessible>
#include <QQuickItem>
#include <QtQuick/private/qaccessiblequickitem_p.h>
#include <QtQuick/private/qquickitem_p.h>

using namespace Qt::StringLiterals;

namespace {

class AccessibleControl : public QAccessibleQuickItem
{
public:
    using QAccessibleQuickItem::QAccessibleQuickItem;

    [[nodiscard]] QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleQuickItem::state();
        state.disabled = !item()->isEnabled();
        return state;
    }
    // Qt Quick adds the window's own press handler to the press it offers itself.
    [[nodiscard]] QStringList actionNames() const override
    {
        QStringList names = QAccessibleQuickItem::actionNames();
        names.removeDuplicates();
        return names;
    }
    // A greyed-out control does nothing for a screen reader either.
    void doAction(const QString &actionName) override
    {
        if (item()->isEnabled())
            QAccessibleQuickItem::doAction(actionName);
    }
};

QAccessibleInterface *controlInterface(const QString &className, QObject *object)
{
    static const QStringList controls {u"QQuickButton"_s, u"QQuickToolButton"_s,
                                       u"QQuickComboBox"_s, u"QQuickTextField"_s};
    auto *item = qobject_cast<QQuickItem *>(object);
    // Only what Qt Quick itself would show to a screen reader.
    if (!item || !controls.contains(className) || !QQuickItemPrivate::get(item)->isAccessible)
        return nullptr;
    return new AccessibleControl(item);
}

} // namespace

void installAccessibleControls()
{
    QAccessible::installFactory(&controlInterface);
}
