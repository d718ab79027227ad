#pragma once

#include <QObject>

class QQuickItem;

// Qt Quick gives its progress bars no value for a screen reader (Qt 6.4): this gives them one,
// the bar's "value" between "from" and "to", and tells the screen reader when it changes.
// Installed once, before the window loads.
void installAccessibleProgressBars();

// Tells a screen reader every change of a bar's value, as Qt Quick does for a slider's. Belongs to
// the bar.
class ValueTeller : public QObject
{
    Q_OBJECT
public:
    explicit ValueTeller(QQuickItem *bar);

private slots:
    void tell();
};
