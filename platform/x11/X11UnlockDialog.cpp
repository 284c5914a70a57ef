#include "X11UnlockDialog.h"

#include "X11InputGrab.h"

#include <QGuiApplication>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickView>
#include <QScreen>

namespace {

const QUrl viewSource(QStringLiteral("qrc:/paneveil/UnlockDialogView.qml"));

// Copies the typed password out as UTF-8; the QString itself belongs to
// the field, which is cleared when the dialog closes.
SecretText secretFrom(const QString &password)
{
    QByteArray bytes = password.toUtf8();
    SecretText secret(std::vector<char>(bytes.cbegin(), bytes.cend()));
    bytes.fill('\0');
    return secret;
}

// Carries the view's two signals to the dialog's callbacks.
class DialogRelay : public QObject {
    Q_OBJECT
public:
    DialogRelay(X11UnlockDialog *dialog, QObject *parent) : QObject(parent), m_dialog(dialog) {}

public Q_SLOTS:
    void submitted(const QString &password) { m_dialog->onSubmit(secretFrom(password)); }
    void canceled() { m_dialog->onCancel(); }

private:
    X11UnlockDialog *m_dialog;
};

} // namespace

OptionalText X11UnlockDialog::probe()
{
    Q_INIT_RESOURCE(unlockdialog);
    if (!qGuiApp || !QGuiApplication::primaryScreen())
        return QStringLiteral("no screen to show the unlock dialog on");
    QQmlEngine engine;
    QQmlComponent component(&engine, viewSource);
    if (component.isError())
        return component.errorString().trimmed();
    return std::nullopt;
}

X11UnlockDialog::X11UnlockDialog(std::shared_ptr<X11InputGrab> grab) : m_grab(std::move(grab))
{
    Q_INIT_RESOURCE(unlockdialog);
}

X11UnlockDialog::~X11UnlockDialog()
{
    close();
}

bool X11UnlockDialog::show()
{
    close();
    if (!qGuiApp || !QGuiApplication::primaryScreen())
        return false;

    auto *view = new QQuickView;
    view->setTitle(QString::fromLatin1(windowTitle));
    // Its own override-redirect window: no window manager places, frames or
    // hides it, and the overlay lifts the helper's own windows above itself.
    view->setFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::X11BypassWindowManagerHint);
    view->setColor(Qt::transparent);
    view->setResizeMode(QQuickView::SizeViewToRootObject);
    view->setSource(viewSource);
    if (view->status() != QQuickView::Ready || !view->rootObject()) {
        delete view;
        return false;
    }
    QObject *root = view->rootObject();
    auto *relay = new DialogRelay(this, view);
    QObject::connect(root, SIGNAL(submitted(QString)), relay, SLOT(submitted(QString)));
    QObject::connect(root, SIGNAL(canceled()), relay, SLOT(canceled()));

    m_view = view;
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const QSize size = view->size();
    view->setPosition(screen.center() - QPoint(size.width() / 2, size.height() / 2));
    view->show();
    view->raise();
    view->requestActivate();
    if (m_grab)
        m_grab->forwardInputTo(uint32_t(view->winId()));
    return true;
}

void X11UnlockDialog::close()
{
    if (!m_view)
        return;
    QQuickView *view = m_view.data();
    m_view.clear();
    if (m_grab)
        m_grab->stopForwarding();
    if (QObject *root = view->rootObject())
        QMetaObject::invokeMethod(root, "clearPassword");
    view->hide();
    // Close may come from one of the view's own button handlers.
    view->deleteLater();
}

QQuickView *X11UnlockDialog::view() const
{
    return m_view.data();
}

void X11UnlockDialog::showMessage(const QString &message)
{
    if (m_view && m_view->rootObject())
        m_view->rootObject()->setProperty("message", message);
}

void X11UnlockDialog::rejectPassword(const QString &message)
{
    if (!m_view || !m_view->rootObject())
        return;
    QMetaObject::invokeMethod(m_view->rootObject(), "clearPassword");
    m_view->rootObject()->setProperty("message", message);
}

std::unique_ptr<UnlockDialogInterface> makeX11UnlockDialog(std::shared_ptr<X11InputGrab> grab)
{
    return std::make_unique<X11UnlockDialog>(std::move(grab));
}

#include "X11UnlockDialog.moc"
