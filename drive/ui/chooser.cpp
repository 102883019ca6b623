#include "drive/ui/chooser.h"

#include "drive/strings.h"
#include "platform/ui/controls.h"

#include <QInputDialog>
#include <QLineEdit>

namespace {

ChooserPlacementSource &placementSource()
{
    static ChooserPlacementSource source;
    return source;
}

InputBoxResponder &inputResponder()
{
    static InputBoxResponder responder;
    return responder;
}

} // namespace


bool ChooserCancelled(const QString &answer) { return answer == GetString(24, QStringLiteral("Cancel")); }

void SetChooserPlacementSource(ChooserPlacementSource source) { placementSource() = std::move(source); }

std::optional<ChooserPlacement> ChooserPlacementNow()
{
    if (!placementSource())
        return std::nullopt;
    return placementSource()();
}

QString ShowInputBox(const QString &prompt, const QString &title, const QString &defaultText, int ownerHandle)
{
    if (inputResponder()) {
        InputBoxRequest request{prompt, title, defaultText, ownerHandle};
        return inputResponder()(request);
    }
    QString shown = prompt;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    bool ok = false;
    const QString answer
        = QInputDialog::getText(plat::widgetOf(ownerHandle), title, shown, QLineEdit::Normal, defaultText, &ok);
    return ok ? answer : QString();
}

void SetInputBoxResponder(InputBoxResponder responder) { inputResponder() = std::move(responder); }

bool HasInputBoxResponder() { return static_cast<bool>(inputResponder()); }
