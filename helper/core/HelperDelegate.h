// Admits connections for the listener: every admitted peer is attached to the
// one lock manager, and detached when its connection ends.
#pragma once

#include "LockManager.h"

class HelperDelegate {
public:
    explicit HelperDelegate(LockComponents components);

    LockManager &lockManager() { return m_lockManager; }

    // Called by the listener for a peer that passed the identity check;
    // returns the object its requests go to.
    PaneveilHelperProtocol &acceptConnection(std::shared_ptr<PaneveilAppProtocol> connection);
    void connectionInvalidated(std::shared_ptr<PaneveilAppProtocol> connection);

private:
    LockManager m_lockManager;
};
