// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class QObject;
class TStoreBackend;

// A window, or a program's stand-in for one, that gives the components it
// owns (record file, form stores) their settings store.
class TStoreOwner
{
public:
    virtual ~TStoreOwner() = default;
    virtual TStoreBackend& OwnStore() = 0;
};

// The store of the nearest owner among a component's parents; without one,
// the program context's.
TStoreBackend& ownerStore(const QObject* component);
