#include "drive/ui/chooser.h"

#include "drive/strings.h"
#include "platform/os.h"
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
    // A program that is closing asks nothing more: the box is cancelled.
    if (plat::closing())
        return {};
    if (inputResponder()) {
        InputBoxRequest request{prompt, title, defaultText, ownerHandle};
        return inputResponder()(request);
    }
    QString shown = prompt;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QInputDialog box(plat::widgetOf(ownerHandle));
    box.setWindowTitle(title);
    box.setLabelText(shown);
    box.setInputMode(QInputDialog::TextInput);
    box.setTextValue(defaultText);
    const int listener = plat::addClosingListener([&box] { box.reject(); });
    const plat::InFrontOfOthers front(&box);
    const bool ok = box.exec() == QDialog::Accepted;
    plat::removeClosingListener(listener);
    return ok ? box.textValue() : QString();
}

void SetInputBoxResponder(InputBoxResponder responder) { inputResponder() = std::move(responder); }

bool HasInputBoxResponder() { return static_cast<bool>(inputResponder()); }
