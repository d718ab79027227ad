import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import com.brindlemoor.TsTxDownloader 1.0

ApplicationWindow {
    id: app
    objectName: "app"
    visible: true
    // The default and the smallest size follow from what the window shows: the toolbar's buttons
    // clear of the logo, the form, and the run's line and the status whole in as many lines as
    // they take at the window's width (two at least, so that the window rarely needs to grow).
    width: 640
    minimumWidth: Math.ceil(Math.max(toolBar.leftPadding + toolButtons.implicitWidth
                                     + 2 * logo.anchors.margins + logo.width + toolBar.rightPadding,
                                     gridLayout.implicitWidth + 2 * gridLayout.anchors.margins))
    // Never taller than the screen: the texts it shows are bounded (QTftp.shownText), so that
    // takes a small screen or a very large font.
    minimumHeight: Math.min(Math.ceil(toolBar.implicitHeight + statusBar.implicitHeight
                                      + gridLayout.implicitHeight + 2 * gridLayout.anchors.margins),
                            Screen.desktopAvailableHeight)
    // A longer outcome makes the window taller rather than hiding a part of it, and once it is
    // replaced by a shorter one the window shrinks back, unless the technician sized it since.
    property int fittedHeight: 0
    onMinimumHeightChanged: {
        if (app.height < app.minimumHeight || app.height === app.fittedHeight) {
            app.height = app.minimumHeight
            app.fittedHeight = app.height
        }
    }
    Component.onCompleted: {
        app.height = app.minimumHeight
        app.fittedHeight = app.height
        // The folder chosen last, as if just chosen; said on the status line when it is gone.
        const remembered = qtftp.restoreFolder()
        if (String(remembered) !== "")
            app.showFolder(remembered)
    }
    title: qsTr("Tessaline Transmitter Update Tool")

    readonly property bool running: qtftp.runState === QTftp.Running
    // Stop was pressed in this run: said once, and Stop is greyed out until the run has ended.
    property bool stopping: false
    // Dark themes need a light plate behind the black logo. Known by the text's colour, which
    // every style sets (Universal, for one, leaves the palette as it is).
    readonly property bool dark: statusLabel.color.hslLightness > 0.5
    // The chosen folder as a URL, which is what the listing takes; the form shows it as a path.
    property url folder
    // Set by start-up's watch while the window handles a key, click or touch of the technician's,
    // and counted: the folder dialog tells a subfolder selected by hand from its own selection.
    property bool handInput: false
    property int inputSerial: 0

    // A run is not left under way: no closing or quitting until it has ended or been stopped,
    // and the technician is told so.
    onClosing: (close) => {
        close.accepted = !app.running
        if (app.running)
            busyNotice.open()
    }
    function quit() {
        if (app.running)
            busyNotice.open()
        else
            Qt.quit()
    }

    header: ToolBar {
        id: toolBar
        objectName: "toolBar"
        // Tall enough for the 24-pixel icons and a legible logo; the toolbar has two items, so
        // it cannot take its height from its content.
        contentHeight: 40

        // The icons are black glyphs: tinted like the labels, they grey out with them.
        RowLayout {
            id: toolButtons
            ToolbarButton {
                objectName: "openButton"
                action: openAction
            }
            ToolbarButton {
                objectName: "aboutButton"
                action: aboutAction
            }
            ToolSeparator {}
            ToolbarButton {
                id: quitButton
                objectName: "quitButton"
                action: quitAction
            }
        }

        Rectangle {
            anchors.fill: logo
            anchors.margins: -3
            radius: 3
            color: "white"
            visible: app.dark
        }
        // Without a width of its own it takes the width of the picture scaled to its height.
        Image {
            id: logo
            objectName: "logo"
            anchors.right: parent.right
            anchors.top: parent.top
            anchors.bottom: parent.bottom
            anchors.margins: 6
            fillMode: Image.PreserveAspectFit
            source: "qrc:/Brindlemoor.png"
        }

        // StandardKey is an enumeration of QtQuick that this qmllint (Qt 6.4) does not resolve,
        // though the engine does; hence the disabled "unqualified" check on the shortcuts.
        // Open and About, with their buttons and shortcuts, are off during a run: no folder change
        // under a running transfer. Quit stays on, to say why it does not quit then.
        Action {
            id: openAction
            objectName: "openAction"
            enabled: !app.running
            text: qsTr("Open")
            icon.name: "document-open"
            shortcut: StandardKey.Open // qmllint disable unqualified
            onTriggered: app.openFolderDialog()
        }
        Action {
            id: aboutAction
            objectName: "aboutAction"
            enabled: !app.running
            text: qsTr("About")
            icon.name: "help-about"
            shortcut: StandardKey.HelpContents // qmllint disable unqualified
            onTriggered: aboutDialog.open()
        }
        Action {
            id: quitAction
            objectName: "quitAction"
            text: qsTr("Quit")
            icon.name: "application-exit"
            shortcut: StandardKey.Quit // qmllint disable unqualified
            onTriggered: app.quit()
        }
    }

    ToolTip {
        id: busyNotice
        objectName: "busyNotice"
        parent: quitButton
        y: quitButton.height + 4
        timeout: 5000
        text: qsTr("An update is running: press Stop first, then the tool can be closed")
    }

    // Texts from outside (the device's error text, file and folder names) are shown as plain
    // text: as markup they could fake a message or make the window fetch from any address.
    // The status shows whole, in as many lines as it takes; a screen reader follows it.
    footer: ToolBar {
        id: statusBar
        objectName: "statusBar"
        // Named by the status, so that a screen reader hears each change of it.
        Accessible.name: statusLabel.text
        contentHeight: Math.max(2 * Math.ceil(textMetrics.lineSpacing), statusLabel.implicitHeight)
        Label {
            id: statusLabel
            objectName: "statusLabel"
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.verticalCenter: parent.verticalCenter
            anchors.leftMargin: 16
            anchors.rightMargin: 16
            text: qtftp.shownText(qtftp.errorString)
            textFormat: Text.PlainText
            wrapMode: Text.WrapAtWordBoundaryOrAnywhere
            horizontalAlignment: Text.AlignLeft
            Accessible.name: statusLabel.text
        }
    }

    // Rows as the eye reads them, and Tab follows: folder, interface, address, Start and Stop
    // with the bar, then the run's line across the whole width.
    GridLayout {
        id: gridLayout
        objectName: "gridLayout"
        anchors.fill: parent
        anchors.margins: 16
        visible: false
        columns: 2

        Label {
            text: qsTr("Selected folder:")
            horizontalAlignment: Text.AlignRight
        }
        Label {
            id: selectedFolderLabel
            objectName: "selectedFolderLabel"
            text: qtftp.shownText(qtftp.displayPath(app.folder))
            textFormat: Text.PlainText
            horizontalAlignment: Text.AlignLeft
            Layout.fillWidth: true
            Layout.preferredWidth: 0
            // A long path shows whole, over as many lines as it needs.
            wrapMode: Text.WrapAtWordBoundaryOrAnywhere
            Accessible.name: qsTr("Selected folder: %1").arg(selectedFolderLabel.text)
        }

        Label {
            text: qsTr("Network interface:")
            horizontalAlignment: Text.AlignRight
        }
        ComboBox {
            id: interfaceList
            objectName: "interfaceList"
            model: qtftp.ifsList
            enabled: !app.running
            Layout.fillWidth: true
            Layout.preferredWidth: 0
            Accessible.name: qsTr("Network interface")
            // Interface names are the system's, and a user may name an interface anything: the
            // list shows them as plain text too (the style's own delegate takes markup).
            delegate: ItemDelegate {
                id: entry
                required property string modelData
                width: ListView.view.width
                text: modelData
                highlighted: ListView.isCurrentItem
                contentItem: Label {
                    text: entry.text
                    textFormat: Text.PlainText
                    color: entry.highlighted ? entry.palette.highlightedText : entry.palette.text
                    elide: Text.ElideRight
                    verticalAlignment: Text.AlignVCenter
                }
            }
            currentIndex: qtftp.preferredInterfaceIndex()
            // Blank would hide that the run would go out from whatever the system picks.
            displayText: currentIndex === -1 && qtftp.missingInterface !== ""
                         ? qsTr("%1 has no IPv4 address now: choose an interface")
                               .arg(qtftp.missingInterface)
                         : currentText
            onCurrentTextChanged: {
                const parts = currentText.split(" -- ")
                qtftp.saveNetworkIf(parts[0])
                qtftp.setLocalAddress(parts[1])
            }
            // An adapter plugged in since the list was read shows up when the list opens.
            Connections {
                target: interfaceList.popup
                function onAboutToShow() { app.refreshInterfaces() }
            }
        }

        Label {
            text: qsTr("Ip Address or Hostname:")
            horizontalAlignment: Text.AlignRight
        }
        TextField {
            id: addressField
            objectName: "addressField"
            text: qtftp.loadNetworkAddr()
            enabled: !app.running
            mouseSelectionMode: TextField.SelectCharacters
            // As wide as the form: a style's narrow field would show a part of the address.
            Layout.fillWidth: true
            Accessible.name: qsTr("Ip Address or Hostname")
            onTextChanged: {
                qtftp.saveNetworkAddr(text)
                qtftp.setRemoteAddress(text)
            }
            onAccepted: app.start()
        }

        // Holds the focus during a run (Start, which had it, is greyed out), so that the first Tab
        // reaches Stop: not a stop of the Tab order itself, so it passes Tab on by hand.
        RowLayout {
            id: runButtons
            objectName: "runButtons"
            Keys.onTabPressed: stopButton.forceActiveFocus(Qt.TabFocusReason)
            Keys.onBacktabPressed: runButtons.nextItemInFocusChain(false).forceActiveFocus(
                                       Qt.BacktabFocusReason)
            Button {
                id: startButton
                objectName: "startButton"
                text: qsTr("Start")
                enabled: !app.running && addressField.text.trim() !== ""
                onClicked: app.start()
                Accessible.name: startButton.text
                Accessible.onPressAction: startButton.clicked()
            }
            // Ends the run after the block under way: nothing more is sent, and no "done".
            Button {
                id: stopButton
                objectName: "stopButton"
                text: qsTr("Stop")
                enabled: app.running && !app.stopping
                onClicked: {
                    app.stopping = true
                    qtftp.stopUpdate()
                }
                Accessible.name: stopButton.text
                Accessible.onPressAction: stopButton.clicked()
            }
        }
        // Full once the whole update went through, amber when an image's ERROR was taken as
        // received, red when the run stopped short.
        ProgressBar {
            id: progressBar
            objectName: "progressBar"
            Layout.fillWidth: true
            readonly property bool complete: qtftp.runState === QTftp.Complete
            readonly property color fill: qtftp.runState === QTftp.Incomplete ? "firebrick"
                : progressBar.complete && qtftp.acceptedErrorCount > 0 ? "darkorange"
                : app.palette.active.highlight
            from: 0
            to: progressBar.complete ? 1 : qtftp.fileSize
            value: progressBar.complete ? 1 : qtftp.fileProgress
            palette.active.highlight: progressBar.fill
            palette.inactive.highlight: progressBar.fill
            Accessible.name: qsTr("Progress of the file being sent")
        }

        // What the run is doing, then what became of it: whole, over the form's width.
        Label {
            id: runLabel
            objectName: "runLabel"
            Layout.columnSpan: 2
            Layout.fillWidth: true
            Layout.preferredWidth: 0
            Layout.minimumHeight: 2 * Math.ceil(textMetrics.lineSpacing)
            verticalAlignment: Text.AlignTop
            text: qtftp.shownText(qtftp.runText)
            textFormat: Text.PlainText
            wrapMode: Text.WrapAtWordBoundaryOrAnywhere
            Accessible.name: runLabel.text
        }

        // Every run leaves a record for support: where the latest is, and its folder on request.
        RowLayout {
            Layout.columnSpan: 2
            Layout.fillWidth: true
            // Shown from the start, so that the first run's record does not make the window grow.
            Label {
                id: recordLabel
                objectName: "recordLabel"
                Layout.fillWidth: true
                Layout.preferredWidth: 0
                text: qtftp.lastRunRecord === ""
                      ? qsTr("Each run leaves a record for support in the records folder")
                      : qsTr("Record of this run: %1").arg(qtftp.shownText(qtftp.lastRunRecord))
                textFormat: Text.PlainText
                // One line, whatever the path: the file name and the folder's start stay in view.
                elide: Text.ElideMiddle
                Accessible.name: recordLabel.text
            }
            Button {
                id: recordsButton
                objectName: "recordsButton"
                text: qsTr("Show records")
                onClicked: Qt.openUrlExternally(qtftp.runRecordsFolderUrl())
                Accessible.name: recordsButton.text
            }
        }
    }

    // The labels' font, for the two lines kept for the status and the run's line.
    FontMetrics {
        id: textMetrics
        font: app.font
    }

    // Start, or Enter in the address field: the run lists the folder anew, reads its images and
    // finds the device, off the window's thread, then sends.
    function start() {
        if (!startButton.enabled)
            return
        app.stopping = false
        qtftp.startUpdate()
        if (app.running)
            runButtons.forceActiveFocus()
    }

    // After a run the next keystroke is again the address: of the next transmitter, say.
    Connections {
        target: qtftp
        function onUpdateCompleted() { addressField.forceActiveFocus() }
    }

    // A new dialog for every opening: once shown, Qt's dialog keeps the folder it was left in
    // and ignores currentFolder, so a second opening would miss the remembered folder.
    // The dialog of the component below, with its own properties and choice().
    property var openDialog: null

    function openFolderDialog() {
        if (openDialog) {
            openDialog.objectName = "" // gone from the object tree only once the loop runs
            openDialog.destroy()
        }
        openDialog = openDialogComponent.createObject(app, {currentFolder: qtftp.startFolder(),
                                                                  hostWindow: app})
        openDialog.accepted.connect(folderChosen)
        openDialog.open()
    }

    Component {
        id: openDialogComponent
        FolderChooser {
            objectName: "openDialog"
            title: qsTr("Please choose a folder")
        }
    }

    function folderChosen() {
        app.showFolder(qtftp.chooseFolder(openDialog.choice()))
    }

    // The form for a listed folder; the next keystroke is the device's address.
    function showFolder(folder: url) {
        app.folder = folder
        gridLayout.visible = true
        addressField.forceActiveFocus()
    }

    // The list as the machine has it now, the chosen entry kept where it still exists.
    function refreshInterfaces() {
        const chosen = interfaceList.currentText
        qtftp.refreshInterfaces()
        const kept = interfaceList.find(chosen)
        interfaceList.currentIndex = kept >= 0 ? kept : qtftp.preferredInterfaceIndex()
    }

    // In the dialog Qt Quick draws itself (where the desktop has none), Enter on a typed path
    // only enters the folder: Ctrl+Enter chooses the folder shown, whatever is selected in it.
    // An application shortcut, as the modal dialog blocks the others.
    Shortcut {
        sequences: ["Ctrl+Return", "Ctrl+Enter"]
        context: Qt.ApplicationShortcut
        enabled: app.openDialog !== null && app.openDialog.visible
        onActivated: {
            app.openDialog.selectedFolder = app.openDialog.currentFolder
            app.openDialog.accept()
        }
    }

    AboutDialog {
        id: aboutDialog
        objectName: "aboutDialog"
        version: qtftp.updaterVersion
        dark: app.dark
    }

    QTftp {
        id: qtftp
        objectName: "qtftp"
    }
}
