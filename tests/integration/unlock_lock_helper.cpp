// The helper's lock as the installed helper composes it on X11 (input grab,
// overlay, display watcher, PAM with the unlock dialog), driven over stdin
// instead of the session bus so the unlock tests can run it as any user.
// Commands, one a line: "lock", "unlock" (with authentication), "quit".
// Output lines: "user NAME" (whom PAM is asked about), "ready", "reply lock|unlock true|false [message]",
// "state locked|unlocked", "error MESSAGE", and what the dialog is asked to
// do: "dialog shown|closed|unavailable", "dialog rejected|message TEXT".
// usage: unlock_lock_helper [--service NAME]

#include "AuthManager.h"
#include "EventTapManager.h"
#include "InputPermissions.h"
#include "LockManager.h"
#include "PamConversation.h"
#include "UnavailableComponents.h"
#include "X11InputGrab.h"
#include "X11Overlay.h"
#include "X11UnlockDialog.h"

#include <QGuiApplication>
#include <QSocketNotifier>

#include <cstdio>
#include <unistd.h>

namespace {

void say(const QString &line)
{
    std::fprintf(stdout, "%s\n", qPrintable(line));
    std::fflush(stdout);
}

struct NoPrompt final : PermissionPromptInterface {
    void request(Permission) override {}
};

class PrintingApp final : public PaneveilAppProtocol {
public:
    void helperDidChangeLockState(bool isLocked, OptionalDate) override
    {
        say(isLocked ? QStringLiteral("state locked") : QStringLiteral("state unlocked"));
    }
    void helperDidEncounterError(QString message) override { say(QStringLiteral("error ") + message); }
};

// The real dialog, with what the lock asks of it reported, so tests can
// wait for a refusal instead of guessing PAM's delay.
class ReportingDialog final : public UnlockDialogInterface {
public:
    explicit ReportingDialog(std::unique_ptr<UnlockDialogInterface> dialog) : m_dialog(std::move(dialog))
    {
        m_dialog->onSubmit = [this](SecretText password) { onSubmit(std::move(password)); };
        m_dialog->onCancel = [this] { onCancel(); };
    }
    bool show() override
    {
        const bool shown = m_dialog->show();
        say(shown ? QStringLiteral("dialog shown") : QStringLiteral("dialog unavailable"));
        return shown;
    }
    void close() override
    {
        m_dialog->close();
        say(QStringLiteral("dialog closed"));
    }
    void showMessage(const QString &message) override
    {
        m_dialog->showMessage(message);
        say(QStringLiteral("dialog message ") + message);
    }
    void rejectPassword(const QString &message) override
    {
        m_dialog->rejectPassword(message);
        say(QStringLiteral("dialog rejected ") + message);
    }

private:
    std::unique_ptr<UnlockDialogInterface> m_dialog;
};

LockManager::ResultReply printReply(const QString &what)
{
    return [what](bool success, OptionalText message) {
        say(QStringLiteral("reply %1 %2 %3").arg(what, success ? QStringLiteral("true") : QStringLiteral("false"),
                                                 message.value_or(QString())).trimmed());
    };
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "xcb");
    qunsetenv("QT_IM_MODULE");
    QGuiApplication application(argc, argv);
    QGuiApplication::setQuitOnLastWindowClosed(false);
    QString service = PamConversation::defaultService();
    const QStringList arguments = application.arguments();
    if (const qsizetype at = arguments.indexOf(QStringLiteral("--service")); at >= 0 && at + 1 < arguments.size())
        service = arguments.at(at + 1);

    // The same wiring the helper's x11Components() gets once owners can
    // unlock, with the dialog reporting what it is asked to do.
    LockComponents components = unavailableComponents();
    auto inputGrab = std::make_shared<X11InputGrab>();
    components.permissions = std::make_unique<InputPermissions>(inputGrab);
    // Input is blocked only where the owner can unlock again.
    const OptionalText noPam = PamConversation::probe(service);
    const OptionalText noDialog = X11UnlockDialog::probe();
    if (!noPam && !noDialog) {
        components.eventTap = std::make_unique<EventTapManager>(inputGrab, std::make_shared<NoPrompt>());
        components.auth = std::make_unique<AuthManager>(
            [service] { return std::make_unique<PamConversation>(service); },
            std::make_unique<ReportingDialog>(makeX11UnlockDialog(inputGrab)));
    } else {
        say(QStringLiteral("input blocking stays off: owners could not unlock (%1)").arg(noPam ? *noPam : *noDialog));
    }
    if (auto overlay = makeX11Overlay())
        components.overlay = std::move(overlay);
    if (auto displays = makeX11DisplayWatcher())
        components.displays = std::move(displays);

    LockManager manager(std::move(components));
    manager.attach(std::make_shared<PrintingApp>());

    QSocketNotifier commands(STDIN_FILENO, QSocketNotifier::Read);
    QByteArray pending;
    QObject::connect(&commands, &QSocketNotifier::activated, &application, [&] {
        char buffer[256];
        const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (got <= 0) {
            QCoreApplication::exit(0);
            return;
        }
        pending.append(buffer, got);
        qsizetype end;
        while ((end = pending.indexOf('\n')) >= 0) {
            const QByteArray command = pending.left(end).trimmed();
            pending.remove(0, end + 1);
            if (command == "lock")
                manager.lockWithReply(printReply(QStringLiteral("lock")));
            else if (command == "unlock")
                manager.unlockWithAuth(true, printReply(QStringLiteral("unlock")));
            else if (command == "quit")
                QCoreApplication::exit(0);
        }
    });
    say(QStringLiteral("user ") + PamConversation::currentUser());
    say(QStringLiteral("ready"));
    const int status = application.exec();
    // Never leave the test's X server grabbed.
    manager.unlockWithAuth(false, [](bool, OptionalText) {});
    QCoreApplication::processEvents();
    return status;
}
