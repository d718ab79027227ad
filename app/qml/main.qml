import QtQuick
import QtQuick.Controls
import com.brindlemoor.TsTxDownloader 1.0

ApplicationWindow {
    id: app
    visible: true
    width: 640
    height: 280
    title: qsTr("Tessaline Transmitter Update Tool")

    QTftp {
        id: qtftp
    }

    Label {
        anchors.centerIn: parent
        text: qtftp.errorString
    }
}
