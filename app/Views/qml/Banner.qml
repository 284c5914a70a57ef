// A rounded, tinted panel with a thin border of the same tint; what it
// holds goes into `content`, laid out 10 px inside the edges.
import QtQuick

Rectangle {
    id: banner

    property color tint: "transparent"
    property real fillOpacity: 0.1
    property real borderOpacity: 0.3
    default property alias content: inner.data
    readonly property alias contentArea: inner

    implicitHeight: inner.childrenRect.height + 2 * padding
    readonly property int padding: 10
    radius: 8
    color: Qt.rgba(tint.r, tint.g, tint.b, fillOpacity)
    // Qt Quick draws a rectangle's border inside its edges.
    border.width: 0.5
    border.color: Qt.rgba(tint.r, tint.g, tint.b, borderOpacity)

    Item {
        id: inner
        x: banner.padding
        y: banner.padding
        width: banner.width - 2 * banner.padding
        height: childrenRect.height
    }
}
