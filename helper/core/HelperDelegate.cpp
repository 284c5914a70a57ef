#include "HelperDelegate.h"

HelperDelegate::HelperDelegate(LockComponents components)
    : m_lockManager(std::move(components))
{
}

PaneveilHelperProtocol &HelperDelegate::acceptConnection(std::shared_ptr<PaneveilAppProtocol> connection)
{
    m_lockManager.attach(std::move(connection));
    return m_lockManager;
}

void HelperDelegate::connectionInvalidated(std::shared_ptr<PaneveilAppProtocol> connection)
{
    m_lockManager.detach(std::move(connection));
}
