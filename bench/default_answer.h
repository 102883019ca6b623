// The benchmarks answer every message box as a user pressing Enter would.
#pragma once

#include "platform/ui/msgbox.h"

#include <QList>

// The box's default button.
inline int defaultAnswer(const plat::MessageRequest &r)
{
    static const QList<QList<int>> buttons = {
        {plat::id::OK},
        {plat::id::OK, plat::id::Cancel},
        {plat::id::Abort, plat::id::Retry, plat::id::Ignore},
        {plat::id::Yes, plat::id::No, plat::id::Cancel},
        {plat::id::Yes, plat::id::No},
        {plat::id::Retry, plat::id::Cancel},
    };
    const int set = r.style & plat::mb::ButtonMask;
    const QList<int> &b = buttons.value(set, buttons[0]);
    const int def = (r.style & plat::mb::DefButtonMask) / plat::mb::DefButton2;
    return b.value(def, b[0]);
}
