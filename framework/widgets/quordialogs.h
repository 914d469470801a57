// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <functional>

class QWidget;

// Shows the version information of the program titled title, owned by owner.
void VersionsInfoZeigen(const QString& title, QWidget* owner, const QString& text);

// Tests put a hook in place of the modal dialog.
using TVersionDialogHook =
    std::function<void(const QString& title, QWidget* owner, const QString& text)>;
void setVersionDialogHook(TVersionDialogHook hook);

// Reports of the error reporter become German message boxes over the active window.
void installDialogReporting();
