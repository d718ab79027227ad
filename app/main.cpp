#include "startup.h"

#include <QGuiApplication>
#include <QQmlApplicationEngine>

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    setUpApplication();

    QQmlApplicationEngine engine;
    engine.load(windowUrl());
    // No window: the engine has already printed why the document did not load.
    if (engine.rootObjects().isEmpty())
        return -1;

    return QGuiApplication::exec();
}
