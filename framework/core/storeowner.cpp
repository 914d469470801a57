// SPDX-License-Identifier: GPL-3.0-or-later
#include "storeowner.h"

#include "quorprogramm.h"

#include <QObject>

TStoreBackend& ownerStore(const QObject* component)
{
    for (const QObject* object = component; object; object = object->parent())
        if (auto* owner = dynamic_cast<TStoreOwner*>(const_cast<QObject*>(object)))
            return owner->OwnStore();
    return QuorProgramm().Store();
}
