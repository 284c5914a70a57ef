// Unlock latency on Xvfb with the helper's real lock components and PAM
// (pam_wrapper with pam_matrix, so no failure delay and no disk-bound
// password hashing blur the figures):
//  - from the Return key (sent with XTest after typing the right password)
//    to the unlock reply, by which the overlay is hidden and every grab let go;
//  - PAM's own share: a PAM conversation alone, from the submitted password
//    to its success event.
// Prints medians; fails only when it cannot measure.
// usage: bench_unlock [rounds]

#include "AuthManager.h"
#include "EventTapManager.h"
#include "InputTestClients.h"
#include "LockManager.h"
#include "PamConversation.h"
#include "TestSession.h"
#include "UnavailableComponents.h"
#include "X11InputGrab.h"
#include "X11Overlay.h"
#include "X11UnlockDialog.h"

#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QQuickView>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <vector>

namespace {

const QString service = QStringLiteral("paneveil-matrix");
const QString password = QStringLiteral("benchpassword");

double medianOf(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct NoPrompt final : PermissionPromptInterface {
    void request(Permission) override {}
};

template <typename Predicate>
bool waitUntil(Predicate predicate, int timeoutMs = 5000)
{
    QElapsedTimer clock;
    clock.start();
    while (!predicate()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    }
    return true;
}

SecretText secret(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    return SecretText(std::vector<char>(bytes.begin(), bytes.end()));
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariable("PAM_WRAPPER") != QLatin1String("1")) {
        std::fprintf(stderr, "cannot measure: run with pam_wrapper preloaded (through ctest)\n");
        return 1;
    }
    TestSession session;
    if (!session.isValid()) {
        std::fprintf(stderr, "cannot measure: %s\n", qPrintable(session.error()));
        return 1;
    }
    const QByteArray display = session.display().toLocal8Bit();
    qputenv("DISPLAY", display);
    qputenv("QT_QPA_PLATFORM", "xcb");
    qunsetenv("WAYLAND_DISPLAY");
    qputenv("XDG_SESSION_TYPE", "x11");
    const int rounds = std::max(3, argc > 1 ? std::atoi(argv[1]) : 20);
    int status = 0;
    {
        QGuiApplication application(argc, argv);
        QFile passdb(QStringLiteral(PANEVEIL_PAM_PASSDB));
        if (!passdb.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            std::fprintf(stderr, "cannot measure: cannot write %s\n", PANEVEIL_PAM_PASSDB);
            return 1;
        }
        passdb.write(QStringLiteral("%1:%2:%3\n").arg(PamConversation::currentUser(), password, service).toUtf8());
        passdb.close();

        LockComponents components = unavailableComponents();
        auto grab = std::make_shared<X11InputGrab>();
        components.eventTap = std::make_unique<EventTapManager>(grab, std::make_shared<NoPrompt>());
        auto dialog = std::make_unique<X11UnlockDialog>(grab);
        X11UnlockDialog *dialogView = dialog.get();
        components.auth = std::make_unique<AuthManager>([] { return std::make_unique<PamConversation>(service); },
                                                        std::move(dialog));
        if (auto overlay = makeX11Overlay())
            components.overlay = std::move(overlay);
        LockManager manager(std::move(components));
        XTestInput keyboard(display);

        std::vector<double> unlockMs, pamMs;
        for (int round = 0; round < rounds && status == 0; ++round) {
            std::optional<bool> locked, unlocked;
            manager.lockWithReply([&](bool ok, OptionalText) { locked = ok; });
            if (!waitUntil([&] { return locked.has_value(); }) || !*locked) {
                std::fprintf(stderr, "cannot measure: the lock failed\n");
                status = 1;
                break;
            }
            manager.unlockWithAuth(true, [&](bool ok, OptionalText) { unlocked = ok; });
            if (!waitUntil([&] { return dialogView->view() && dialogView->view()->isExposed(); })) {
                std::fprintf(stderr, "cannot measure: no unlock dialog\n");
                status = 1;
                break;
            }
            if (!keyboard.type(password)) {
                std::fprintf(stderr, "cannot measure: the keymap cannot type the password\n");
                status = 1;
                break;
            }
            // Let the typed keys land before the clock starts.
            waitUntil([] { return false; }, 50);
            QElapsedTimer clock;
            clock.start();
            keyboard.tap(XKey::returnKey);
            if (!waitUntil([&] { return unlocked.has_value(); }) || !*unlocked || grab->isHeld()) {
                std::fprintf(stderr, "cannot measure: the right password did not unlock\n");
                status = 1;
                break;
            }
            unlockMs.push_back(double(clock.nsecsElapsed()) / 1e6);
        }

        for (int round = 0; round < rounds && status == 0; ++round) {
            PamConversation conversation(service, PamConversation::currentUser());
            std::optional<AuthConversationInterface::AttemptOutcome> outcome;
            AuthConversationInterface::Events events;
            events.onAttemptEnded = [&](AuthConversationInterface::AttemptOutcome result, const QString &) {
                outcome = result;
            };
            if (conversation.start(std::move(events))) {
                std::fprintf(stderr, "cannot measure: PAM did not start\n");
                status = 1;
                break;
            }
            QElapsedTimer clock;
            clock.start();
            conversation.submitPassword(secret(password));
            if (!waitUntil([&] { return outcome.has_value(); })
                || *outcome != AuthConversationInterface::AttemptOutcome::Success) {
                std::fprintf(stderr, "cannot measure: PAM refused the right password\n");
                status = 1;
                break;
            }
            pamMs.push_back(double(clock.nsecsElapsed()) / 1e6);
        }
        if (status == 0) {
            std::printf("unlock: Return key to overlay hidden and input released, median %.2f ms over %d rounds\n",
                        medianOf(unlockMs), rounds);
            std::printf("unlock: of which PAM (pam_matrix, password to success event), median %.2f ms over %d rounds\n",
                        medianOf(pamMs), rounds);
        }
    }
    return status;
}
