#include "handinput.h"

#include <QCoreApplication>
#include <QEvent>
#include <QPointer>
#include <QQuickWindow>

namespace {

bool isHandInput(QEvent::Type type)
{
    switch (type) {
    case QEvent::KeyPress:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::TouchBegin:
    case QEvent::TouchEnd:
        return true;
    default:
        return false;
    }
}

class HandInputWatch : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        // The type first: a window being destroyed is sent other events, and is no longer
        // what its meta-object says.
        if (!isHandInput(event->type()))
            return false;
        auto *window = qobject_cast<QQuickWindow *>(watched);
        if (window) {
            window->setProperty("inputSerial", window->property("inputSerial").toInt() + 1);
            window->setProperty("handInput", true);
            // Runs once everything this event started has run, before anything that was
            // started later (a folder listed on another thread, say) can report.
            QMetaObject::invokeMethod(
                window, [window] { window->setProperty("handInput", false); },
                Qt::QueuedConnection);
        }
        return false;
    }
};

} // namespace

void installHandInputWatch()
{
    // Once, however often the set-up runs; it belongs to the application.
    static QPointer<HandInputWatch> watch;
    if (!watch) {
        watch = new HandInputWatch(QCoreApplication::instance());
        QCoreApplication::instance()->installEventFilter(watch);
    }
}
