import QtQuick
import com.brindlemoor.TsTxDownloader 1.0

// Shows itself and closes, the last window to go: the program ends as when the user closes it.
Window {
    id: window
    visible: true
    width: 200
    height: 100

    QTftp {}

    Timer {
        interval: 200
        running: true
        onTriggered: window.close()
    }
}
