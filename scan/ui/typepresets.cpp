// The preset combo box beside the scan-type list: presets by camera make and
// type group, clearing all ticks, and the scan's file-size limits.
#include "app/frmrecover.h"

#include "drive/strings.h"
#include "drive/ui/chooser.h"
#include "drive/ui/msgbox.h"
#include "scan/signatures.h"
#include "scan/ui/typelist.h"

#include <QStringList>

void frmRecover::CmbTypeSelect_Click()
{
    const int index = CmbTypeSelect.ListIndex();
    if (index >= 0) {
        const QString entry = CmbTypeSelect.List(index);
        if (entry.contains(QLatin1String("file size"), Qt::CaseInsensitive)) {
            TypeSizeEntry();
            return;
        }
        TypeSelectionChanged = true;
        TypeSelectIndex = index;
        QStringList names;
        for (int i = 1; i <= LvwTypes.ItemCount(); ++i)
            names << LvwTypes.ItemText(i);
        // Presets tick their list as it stands: the exclusions of the user's
        // own ticks do not apply (Canon ticks TIF and CR2).
        const QString list = TypePresetList(entry, names);
        for (int i = 1; i <= LvwTypes.ItemCount(); ++i) {
            const QString &name = names[i - 1];
            LvwTypes.setItemChecked(i, !name.isEmpty() && list.contains(name, Qt::CaseInsensitive));
        }
    }
    if (LvwTypes.Visible())
        LvwTypes.SetFocus();
    ClearSignatureTable(SignatureTable);
}

void frmRecover::TypeSizeEntry()
{
    const QString crlf = QStringLiteral("\r\n");
    const QString prompt = QStringLiteral("Scan for files with .. to .. MB file length only.") + crlf + crlf
        + QStringLiteral("Use limitations if scanning a hard disk,") + crlf
        + QStringLiteral("unlimited for scanning removable media.") + crlf + crlf
        + QStringLiteral("e.g. enter: 1.5-25 for 1.5-25 MB") + crlf
        + QStringLiteral("   or enter: 0 or 0-0 for unlimited.");
    const double oldMin = SizeLimitMin, oldMax = SizeLimitMax;
    double newMin = 0, newMax = 0;
    for (;;) {
        if (!CmbTypeSelect.Visible())
            return;
        const QString answer = ShowInputBox(prompt, QStringLiteral("Quilvane Scan"),
                                            SizeDefaultAnswer(SizeLimitMin, SizeLimitMax), hWnd());
        const SizeAnswer read = ParseSizeLimitAnswer(answer, newMin, newMax);
        if (read == SizeAnswer::Cancelled)
            return;
        if (read == SizeAnswer::Accepted)
            break;
    }
    SizeLimitMin = newMin;
    SizeLimitMax = newMax;
    const QString state = SizeStateText(SizeLimitMin, SizeLimitMax);
    if (lblStatus.Caption().contains(QLatin1String("limited"), Qt::CaseInsensitive))
        lblStatus.setCaption(state);
    CmbTypeSelect.setList(0, state);
    // The pair itself is compared ("1-2" and "11-1" are different limits).
    if (SizeLimitMin != oldMin || SizeLimitMax != oldMax)
        MsgBoxTimed(QString::number(hWnd()), CmbTypeSelect.List(0), 0,
                    QStringLiteral("Quilvane ") + GetString(38, QStringLiteral("Scan")));
}

void frmRecover::lblStatus_Click()
{
    if (lblStatus.Caption().contains(QLatin1String("limited"), Qt::CaseInsensitive))
        CmbTypeSelect.setListIndex(0);
}
