// The lock icon in the system tray and the popover it opens. The icon
// follows the lock state; a click opens the popover next to it (at the
// pointer where the tray gives no geometry), a second click, Escape or
// focus leaving it closes it. The popover's content is built afresh each
// time it opens.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QRect>
#include <QSystemTrayIcon>
#include <QVariantMap>

#include <memory>

class AppSettings;
class HelperService;
class LockState;
class QQuickView;

class MenuBarExtra : public QObject {
    Q_OBJECT

public:
    static constexpr int popoverWidth = 300;

    MenuBarExtra(LockState &lockState, AppSettings &settings, HelperService &helperService,
                 QObject *parent = nullptr);
    ~MenuBarExtra() override;

    // Whether a tray host runs in this session right now.
    static bool trayAvailable();

    void openPopover(const QRect &anchor);
    bool isPopoverOpen() const;

public Q_SLOTS:
    // Also called before every lock, so the popover never sits under the
    // overlay holding focus.
    void closePopover();

Q_SIGNALS:
    void settingsRequested();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void updateIcon();
    void trayActivated(QSystemTrayIcon::ActivationReason reason);
    QRect trayAnchor() const;
    // Sizes and places the popover for its content's current height.
    void placePopover();
    void popoverActiveChanged();

    LockState &m_lockState;
    // What the popover's view is given each time it is made.
    const QVariantMap m_viewObjects;
    QSystemTrayIcon m_tray;
    std::unique_ptr<QQuickView> m_popover;
    QRect m_anchor;
    // When focus last took the popover away; the click on the icon that
    // caused it must not open it again.
    QElapsedTimer m_closedByFocusLoss;
};
