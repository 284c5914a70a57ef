#include "HotkeyManager.h"

#include <QCoreApplication>
#include <QMetaObject>

HotkeyManager::HotkeyManager(std::unique_ptr<HotkeyGrabberInterface> grabber)
    : m_grabber(std::move(grabber))
{
}

// The grabber goes with the manager, taking its grabs and handler with it,
// so no press can reach a manager that no longer exists.
HotkeyManager::~HotkeyManager() = default;

std::optional<quint32> HotkeyManager::registerHotkey(quint32 keyCode, quint32 modifiers,
                                                      std::function<void()> handler)
{
    installHandlerIfNeeded();
    const quint32 id = nextID++;
    const std::optional<HotkeyGrabberInterface::Reference> ref =
        m_grabber->registerHotkey(keyCode, modifiers, HotkeyID{signature, id});
    if (!ref || *ref == 0)
        return std::nullopt;
    registrations[id] = Registration{id, *ref, std::move(handler)};
    return id;
}

void HotkeyManager::unregister(quint32 id)
{
    const auto found = registrations.find(id);
    if (found == registrations.end())
        return;
    const HotkeyGrabberInterface::Reference ref = found->second.ref;
    registrations.erase(found);
    m_grabber->unregisterHotkey(ref);
}

void HotkeyManager::installHandlerIfNeeded()
{
    if (handlerInstalled)
        return;
    // Set first: a failed installation is not tried again.
    handlerInstalled = true;
    m_grabber->installHandler([this](const HotkeyID &hotkeyID) { handlePressed(hotkeyID); });
}

void HotkeyManager::handlePressed(const HotkeyID &hotkeyID)
{
    // Only the id selects the registration; the handler found now is the one
    // that runs, even if it is unregistered before the queued job runs.
    const auto found = registrations.find(hotkeyID.id);
    if (found == registrations.end())
        return;
    QCoreApplication *application = QCoreApplication::instance();
    if (!application || !found->second.handler)
        return;
    QMetaObject::invokeMethod(application, found->second.handler, Qt::QueuedConnection);
}
