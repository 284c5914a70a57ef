// The unlock dialog on X11: the Qt Quick view UnlockDialogView in a
// borderless window of the helper's own, which the overlay keeps above
// itself. While it shows, the input grab stays where it is and passes the
// keystrokes (and clicks on the dialog) on to it, so no other client sees
// them; closing it gives input back to the lock.
#pragma once

#include "AuthAdapters.h"

#include <QPointer>
#include <QString>

#include <memory>

class QQuickView;
class X11InputGrab;

class X11UnlockDialog final : public UnlockDialogInterface {
public:
    // The dialog's window title.
    static constexpr const char windowTitle[] = "Unlock your screen";

    // Whether the view can be built here (a QGuiApplication, a screen, and
    // the Qt Quick modules it imports): nothing, or why not.
    static OptionalText probe();

    // grab may be null: then the dialog takes the focus like any window.
    explicit X11UnlockDialog(std::shared_ptr<X11InputGrab> grab);
    ~X11UnlockDialog() override;

    bool show() override;
    void close() override;
    void showMessage(const QString &message) override;
    void rejectPassword(const QString &message) override;

    // The shown dialog's window, for tests; null while closed.
    QQuickView *view() const;

private:
    std::shared_ptr<X11InputGrab> m_grab;
    QPointer<QQuickView> m_view;
};

std::unique_ptr<UnlockDialogInterface> makeX11UnlockDialog(std::shared_ptr<X11InputGrab> grab);
