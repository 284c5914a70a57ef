// A labelled row: the label at the leading edge, the value at the trailing.
import QtQuick
import QtQuick.Layouts
import Paneveil.Views 1.0

RowLayout {
    id: row

    property alias label: labelText.text
    default property alias value: valueSlot.data

    Layout.fillWidth: true
    Layout.preferredHeight: 30
    spacing: 10

    Text {
        id: labelText
        Layout.fillWidth: true
        font.pixelSize: Style.bodySize
        color: Style.label
        elide: Text.ElideRight
    }
    Item {
        id: valueSlot
        Layout.alignment: Qt.AlignVCenter | Qt.AlignRight
        implicitWidth: childrenRect.width
        implicitHeight: childrenRect.height
    }
}
