import QtQuick
import com.brindlemoor.TsTxDownloader 1.0

// A window that cannot be created: one of its elements names no type.
Window {
    visible: true

    QTftp {}
    NoSuchElement {}
}
