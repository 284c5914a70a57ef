// The look shared by both views: the near equivalents of the system's
// colours, text styles and control sizes.
pragma Singleton
import QtQuick

QtObject {
    // Text styles, in pixels.
    readonly property int captionSize: 11
    readonly property int subheadlineSize: 12
    readonly property int bodySize: 13
    readonly property int headlineSize: 14
    readonly property int sectionHeaderSize: 12
    readonly property int smallControlSize: 11
    readonly property int largeControlSize: 14

    // Foregrounds and surfaces, light appearance.
    readonly property color label: "#1d1d1f"
    readonly property color secondaryLabel: "#6e6e73"
    readonly property color popoverBackground: "#f2f2f4"
    readonly property color windowBackground: "#ececec"
    readonly property color formBackground: "#ffffff"
    readonly property color formBorder: "#d9d9dc"
    readonly property color separator: "#d1d1d6"
    readonly property color controlBackground: "#ffffff"
    readonly property color controlPressed: "#e3e3e6"
    readonly property color controlBorder: "#bdbdc2"
    readonly property color switchOff: "#d4d4d8"
    readonly property color disabledFill: "#c7c7cc"

    // The system tints.
    readonly property color accent: "#007aff"
    readonly property color accentPressed: "#0062cc"
    readonly property color yellow: "#f5b800"
    readonly property color orange: "#ff9500"
    readonly property color red: "#ff3b30"

    function tint(base, alpha) {
        return Qt.rgba(base.r, base.g, base.b, alpha)
    }

    function icon(name) {
        return "qrc:/paneveil/views/icons/" + name + ".svg"
    }
}
