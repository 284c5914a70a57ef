// The panel the tray icon opens: the product name and status, a banner for
// each thing that stands in the way of locking, the Lock/Unlock button, the
// overlay opacity, and Settings/Quit. It keeps no state of its own: every
// text comes from PopoverText, fed with the shared objects' properties, so
// each binding follows them.
import QtQuick
import QtQuick.Controls.Basic
// IconImage: the Controls' own tinted image, used for the single-colour icons.
import QtQuick.Controls.impl
import QtQuick.Layouts
import Paneveil.Views 1.0

Rectangle {
    id: root
    objectName: "menuBarPopover"

    required property QtObject lockState
    required property QtObject settings
    required property QtObject helperService

    // Emitted right before the lock button toggles the lock, so the host can
    // close the panel before a lock covers the screen.
    signal aboutToToggleLock()
    signal openSettings()
    signal quit()

    readonly property int registration: helperService.state
    readonly property bool accessibilityNeedsAttention: PopoverText.accessibilityNeedsAttention(
        registration, lockState.helperReachable, lockState.helperAccessibilityTrusted)

    width: 300
    implicitWidth: 300
    implicitHeight: stack.implicitHeight + 2 * stack.y
    height: implicitHeight
    color: Style.popoverBackground

    Shortcut {
        objectName: "quitShortcut"
        sequence: "Ctrl+Q"
        onActivated: root.quit()
    }

    ColumnLayout {
        id: stack
        x: 14
        y: 14
        width: root.width - 2 * x
        spacing: 12

        // Header: the lock, the product name and the status line.
        RowLayout {
            objectName: "header"
            Layout.fillWidth: true
            spacing: 8

            IconImage {
                objectName: "headerIcon"
                source: Style.icon(root.lockState.isLocked ? "lock.fill" : "lock.open")
                sourceSize: Qt.size(20, 20)
                Layout.preferredWidth: 20
                Layout.preferredHeight: 20
                color: Style.label
            }
            ColumnLayout {
                Layout.fillWidth: true
                spacing: 2
                Text {
                    objectName: "productName"
                    text: "Paneveil"
                    font.pixelSize: Style.headlineSize
                    font.bold: true
                    color: Style.label
                }
                Text {
                    objectName: "statusLine"
                    Layout.fillWidth: true
                    text: PopoverText.statusLine(root.registration, root.lockState.helperReachable,
                                                 root.lockState.isLocked, root.lockState.lockedSince)
                    textFormat: Text.PlainText
                    font.pixelSize: Style.captionSize
                    color: Style.secondaryLabel
                    elide: Text.ElideRight
                }
            }
        }

        // Registration: yellow, and a button only while it waits for approval.
        AbstractButton {
            id: helperBanner
            objectName: "helperBanner"
            Layout.fillWidth: true
            visible: PopoverText.helperBannerShows(root.registration)
            readonly property bool showChevron: PopoverText.helperBannerIsButton(root.registration)
            enabled: showChevron
            focusPolicy: Qt.NoFocus
            hoverEnabled: showChevron
            padding: 0
            implicitHeight: helperBannerBackground.implicitHeight
            onClicked: root.helperService.openLoginItemsSettings()
            Accessible.role: showChevron ? Accessible.Button : Accessible.Grouping
            Accessible.name: PopoverText.bannerTitle(root.registration)

            background: Banner {
                id: helperBannerBackground
                tint: Style.yellow
                fillOpacity: helperBanner.pressed ? 0.2 : 0.12
                borderOpacity: 0.35

                RowLayout {
                    width: parent.width
                    spacing: 10
                    IconImage {
                        source: Style.icon("exclamationmark.shield.fill")
                        sourceSize: Qt.size(22, 22)
                        Layout.preferredWidth: 22
                        Layout.preferredHeight: 22
                        color: Style.yellow
                    }
                    ColumnLayout {
                        Layout.fillWidth: true
                        spacing: 2
                        Text {
                            objectName: "helperBannerTitle"
                            Layout.fillWidth: true
                            text: PopoverText.bannerTitle(root.registration)
                            textFormat: Text.PlainText
                            font.pixelSize: Style.subheadlineSize
                            font.bold: true
                            color: Style.label
                            wrapMode: Text.Wrap
                        }
                        Text {
                            objectName: "helperBannerBody"
                            Layout.fillWidth: true
                            text: PopoverText.bannerBody(root.registration)
                            textFormat: Text.PlainText
                            font.pixelSize: Style.captionSize
                            color: Style.secondaryLabel
                            wrapMode: Text.Wrap
                        }
                    }
                    IconImage {
                        objectName: "helperBannerChevron"
                        visible: helperBanner.showChevron
                        source: Style.icon("chevron.right")
                        sourceSize: Qt.size(11, 11)
                        Layout.preferredWidth: 11
                        Layout.preferredHeight: 11
                        color: Style.secondaryLabel
                    }
                }
            }
        }

        // The helper runs but may not read input: orange.
        Banner {
            objectName: "accessibilityBanner"
            Layout.fillWidth: true
            visible: root.accessibilityNeedsAttention
            tint: Style.orange
            fillOpacity: 0.1
            borderOpacity: 0.3

            ColumnLayout {
                width: parent.width
                spacing: 8
                RowLayout {
                    Layout.fillWidth: true
                    spacing: 10
                    IconImage {
                        source: Style.icon("hand.raised.fill")
                        sourceSize: Qt.size(20, 20)
                        Layout.preferredWidth: 20
                        Layout.preferredHeight: 20
                        color: Style.orange
                    }
                    ColumnLayout {
                        Layout.fillWidth: true
                        spacing: 2
                        Text {
                            objectName: "accessibilityTitle"
                            Layout.fillWidth: true
                            text: "Helper needs Accessibility access"
                            font.pixelSize: Style.subheadlineSize
                            font.bold: true
                            color: Style.label
                            wrapMode: Text.Wrap
                        }
                        Text {
                            objectName: "accessibilityBody"
                            Layout.fillWidth: true
                            text: "The helper is a separate binary from the app. macOS won't let you click-pick it from the + sheet — drag it in instead."
                            textFormat: Text.PlainText
                            font.pixelSize: Style.captionSize
                            color: Style.secondaryLabel
                            wrapMode: Text.Wrap
                        }
                    }
                }
                Flow {
                    Layout.fillWidth: true
                    spacing: 6
                    SmallButton {
                        objectName: "accessibilityOpenSettingsButton"
                        text: "Open Accessibility Settings"
                        onClicked: root.helperService.openAccessibilitySettings()
                    }
                    SmallButton {
                        objectName: "accessibilityRevealButton"
                        text: "Reveal Helper in Finder"
                        onClicked: root.helperService.revealHelperInFinder()
                    }
                }
            }
        }

        // The last error, with the buttons that lead to its fix: red.
        Banner {
            objectName: "errorBanner"
            Layout.fillWidth: true
            visible: PopoverText.hasError(root.lockState.lastError)
            tint: Style.red
            fillOpacity: 0.08
            borderOpacity: 0.25

            ColumnLayout {
                width: parent.width
                spacing: 8
                RowLayout {
                    Layout.fillWidth: true
                    spacing: 8
                    IconImage {
                        source: Style.icon("exclamationmark.triangle.fill")
                        sourceSize: Qt.size(13, 13)
                        Layout.preferredWidth: 13
                        Layout.preferredHeight: 13
                        color: Style.red
                    }
                    Text {
                        objectName: "errorMessage"
                        Layout.fillWidth: true
                        text: PopoverText.errorText(root.lockState.lastError)
                        textFormat: Text.PlainText
                        font.pixelSize: Style.captionSize
                        color: Style.secondaryLabel
                        wrapMode: Text.Wrap
                    }
                }
                Flow {
                    objectName: "errorAccessibilityRow"
                    Layout.fillWidth: true
                    visible: PopoverText.errorShowsAccessibility(root.lockState.lastError)
                    spacing: 6
                    SmallButton {
                        objectName: "errorOpenAccessibilityButton"
                        text: "Open Accessibility Settings"
                        onClicked: root.helperService.openAccessibilitySettings()
                    }
                    SmallButton {
                        objectName: "errorRevealButton"
                        text: "Reveal Helper in Finder"
                        onClicked: root.helperService.revealHelperInFinder()
                    }
                }
                SmallButton {
                    objectName: "errorInputMonitoringButton"
                    visible: PopoverText.errorShowsInputMonitoring(root.lockState.lastError)
                    text: "Open Input Monitoring Settings"
                    onClicked: root.helperService.openInputMonitoringSettings()
                }
                SmallButton {
                    objectName: "errorRepairButton"
                    visible: PopoverText.errorShowsRepair(root.lockState.lastError)
                    text: "Repair Helper Registration"
                    onClicked: root.helperService.repairRegistration()
                }
            }
        }

        Rectangle {
            Layout.fillWidth: true
            implicitHeight: 1
            color: Style.separator
        }

        // Accent-filled, full width, large; works once the helper is
        // registered, whether or not it answers yet.
        Button {
            id: lockButton
            objectName: "lockButton"
            Layout.fillWidth: true
            text: root.lockState.isLocked ? "Unlock" : "Lock Now"
            icon.source: Style.icon(root.lockState.isLocked ? "lock.open.fill" : "lock.fill")
            enabled: PopoverText.lockButtonEnabled(root.registration)
            font.pixelSize: Style.largeControlSize
            topPadding: 7
            bottomPadding: 7
            onClicked: {
                root.aboutToToggleLock()
                root.lockState.toggle()
            }

            contentItem: Item {
                implicitWidth: lockButtonLabel.implicitWidth
                implicitHeight: lockButtonLabel.implicitHeight
                Row {
                    id: lockButtonLabel
                    anchors.centerIn: parent
                    spacing: 6
                    IconImage {
                        objectName: "lockButtonIcon"
                        anchors.verticalCenter: parent.verticalCenter
                        source: lockButton.icon.source
                        sourceSize: Qt.size(16, 16)
                        width: 16
                        height: 16
                        color: "white"
                    }
                    Text {
                        anchors.verticalCenter: parent.verticalCenter
                        text: lockButton.text
                        font: lockButton.font
                        color: "white"
                    }
                }
            }
            background: Rectangle {
                implicitHeight: 32
                radius: 7
                color: !lockButton.enabled ? Style.disabledFill
                                           : lockButton.down ? Style.accentPressed : Style.accent
            }
        }

        ColumnLayout {
            Layout.fillWidth: true
            spacing: 4
            Text {
                objectName: "opacityLabel"
                text: "Overlay opacity " + PopoverText.opacityPercent(root.settings.overlayAlpha) + "%"
                font.pixelSize: Style.captionSize
                color: Style.label
            }
            OpacitySlider {
                objectName: "opacitySlider"
                Layout.fillWidth: true
                settings: root.settings
            }
        }

        Rectangle {
            Layout.fillWidth: true
            implicitHeight: 1
            color: Style.separator
        }

        RowLayout {
            Layout.fillWidth: true
            SmallButton {
                objectName: "settingsButton"
                text: "Settings…"
                onClicked: root.openSettings()
            }
            Item {
                Layout.fillWidth: true
            }
            SmallButton {
                objectName: "quitButton"
                text: "Quit"
                onClicked: root.quit()
            }
        }
    }
}
