// A group of form rows on a rounded card, with an optional header above it.
import QtQuick
import QtQuick.Layouts
import Paneveil.Views 1.0

ColumnLayout {
    id: section

    property string title: ""
    default property alias rows: rowStack.data

    Layout.fillWidth: true
    spacing: 5

    Text {
        visible: section.title.length > 0
        Layout.leftMargin: 2
        text: section.title
        font.pixelSize: Style.sectionHeaderSize
        font.bold: true
        color: Style.label
    }

    Rectangle {
        Layout.fillWidth: true
        implicitHeight: rowStack.implicitHeight + 2 * rowStack.y
        radius: 8
        color: Style.formBackground
        border.width: 1
        border.color: Style.formBorder

        ColumnLayout {
            id: rowStack
            x: 12
            y: 4
            width: parent.width - 2 * x
            spacing: 0
        }
    }
}
