import QtQuick
import com.brindlemoor.TsTxDownloader 1.0

// Shows itself, reports what the updater remembered from an earlier run, remembers an address
// for the next one and quits through Qt.quit(), as the window's Quit action does.
Window {
    visible: true
    width: 200
    height: 100

    QTftp {
        id: updater
    }

    Timer {
        interval: 200
        running: true
        onTriggered: {
            console.warn("remembered address: [" + updater.loadNetworkAddr() + "] version: "
                         + updater.updaterVersion)
            updater.saveNetworkAddr("127.0.0.2")
            Qt.quit()
        }
    }
}
