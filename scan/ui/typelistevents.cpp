// The user's actions on the scan-type list: ticks with their exclusions and
// linked types, keys, the right button, losing the focus, and the removal of
// learned types.
#include "app/frmrecover.h"

#include "drive/strings.h"
#include "drive/ui/msgbox.h"
#include "platform/ui/msgbox.h"
#include "scan/learnedtypes.h"
#include "scan/signatures.h"

#include <QStringList>

namespace {

// Whole names of a blank-separated set ("TIF CR2 PEF "): a name is in it
// only as a whole, so that no shorter name ("IF", "PG") joins a rule.
bool inNameSet(const QString &name, const char *set)
{
    return !name.isEmpty() && QString::fromLatin1(set).split(QLatin1Char(' '), Qt::SkipEmptyParts).contains(name);
}

const char *const kExclusionTriggers = "TIF CR2 PEF ";
const char *const kJpegFamily = "JPG JPE THM ";

} // namespace

void frmRecover::LvwTypes_ItemCheck(int index)
{
    if (TypeListFilling || index < 1 || index > LvwTypes.ItemCount())
        return;
    const QString origin = LvwTypes.SubItem(index, 2);
    const QString name = LvwTypes.ItemText(index);
    const bool ticked = LvwTypes.ItemChecked(index);

    CmbTypeSelect.setListIndex(-1);
    CmbTypeSelect.setText(GetString(434, QStringLiteral("Select Types for Scanning")));

    const bool nameInFamily = inNameSet(name, kJpegFamily);
    for (int r = 1; r <= LvwTypes.ItemCount(); ++r) {
        const QString rowName = LvwTypes.ItemText(r);
        // Types that the scan cannot tell apart exclude each other.
        if (ticked && inNameSet(name, kExclusionTriggers)) {
            if ((name == QLatin1String("TIF") && rowName == QLatin1String("CR2"))
                || (name == QLatin1String("CR2") && rowName == QLatin1String("TIF"))
                || (name == QLatin1String("PEF") && rowName == QLatin1String("NEF")))
                LvwTypes.setItemChecked(r, false);
        }
        // The JPEG family goes together; so do the rows of one name and origin.
        const bool rowInFamily = inNameSet(rowName, kJpegFamily);
        const bool linked = (rowInFamily && nameInFamily && ticked) || rowName == name;
        if (linked && (rowInFamily || LvwTypes.SubItem(r, 2) == origin) && (ticked || r == index))
            LvwTypes.setItemChecked(r, ticked);
    }
    TypeSelectionChanged = true;
}

void frmRecover::LvwTypes_KeyUp(int keyCode, int shift)
{
    if (keyCode == 65 && shift == plat::vbCtrlMask) {
        for (int i = 1; i <= LvwTypes.ItemCount(); ++i)
            LvwTypes.setItemSelected(i, true);
        return;
    }
    if (keyCode == 46)
        RemoveLearnedTypes();
    ClearSignatureTable(SignatureTable);
}

void frmRecover::LvwTypes_MouseDown(int button, int, double, double)
{
    if (button == plat::vbRightButton)
        RemoveLearnedTypes();
    ClearSignatureTable(SignatureTable);
}

void frmRecover::LvwTypes_FocusChanged()
{
    if (Picture7.Visible() && !CmbTypeSelect.Visible()) {
        LvwTypes.setVisible(!Picture7.Visible());
        CmbTypeSelect.setVisible(!Picture7.Visible());
    }
}

void frmRecover::RemoveLearnedTypes()
{
    const int view = LvwTypes.View();
    const QString program = ProgramOrigin();
    QString names;
    QStringList types;
    for (int i = 1; i <= LvwTypes.ItemCount(); ++i) {
        if (!LvwTypes.ItemSelected(i) || LvwTypes.SubItem(i, 2) == program)
            continue;
        const QString text = LvwTypes.ItemText(i);
        if (!types.contains(text)) {
            types.append(text);
            names += QLatin1Char(' ') + text;
        }
    }
    if (types.isEmpty())
        return;

    QString question = GetString(444, QStringLiteral("Remove from the scan list to the recycle bin  ")) + QStringLiteral("\r\n")
        + GetString(445, QStringLiteral("the Adaptive type(s):")) + names + QLatin1Char('?');
    if (types.size() == 1)
        question.remove(QStringLiteral("(s)"));
    if (MsgBoxPositioned(hWnd(), question, plat::mb::YesNo, ProgramTitle) != plat::id::Yes)
        return;

    // Only the learned rows that were asked about lose their files; a
    // selected built-in row of the same name has none.
    for (int i = LvwTypes.ItemCount(); i >= 1; --i) {
        if (!LvwTypes.ItemSelected(i) || LvwTypes.SubItem(i, 2) == program)
            continue;
        const QByteArray type = LvwTypes.ItemText(i).toLatin1().toLower();
        if (!FindLearnedTypeFile(type).isEmpty() && RemoveLearnedTypeFile(type, true))
            LvwTypes.RemoveItem(i);
    }
    QString selection;
    FillTypeList(selection);
    LvwTypes.setView(view);
    LvwTypes.setVisible(true);
    CmbTypeSelect.setVisible(true);
    LvwTypes.ZOrder(0);
}
