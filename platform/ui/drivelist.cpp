#include "platform/ui/drivelist.h"

#include "platform/drives.h"

#include <QComboBox>

namespace plat {

DriveListBox::DriveListBox(Control *container, bool withLabels) : ComboBox(container, 2), withLabels_(withLabels)
{
    if (auto *c = static_cast<QComboBox *>(widget()))
        QObject::connect(c, &QComboBox::activated, context(), [this] { userChose(); });
    Refresh();
}

QString DriveListBox::entryText(QChar letter, const QString &label)
{
    QString text = QString(letter.toLower()) + QLatin1Char(':');
    const QString l = label.trimmed();
    if (!l.isEmpty())
        text += QStringLiteral(" [") + l + QLatin1Char(']');
    return text;
}

QString DriveListBox::Drive() const { return List(current_); }

QChar DriveListBox::letterAt(int index) const
{
    return index >= 0 && index < letters_.size() ? letters_[index] : QChar();
}

int DriveListBox::indexOfLetter(QChar letter) const { return int(letters_.indexOf(letter.toUpper())); }

bool DriveListBox::setDrive(const QString &drive)
{
    const QString d = drive.trimmed();
    if (d.isEmpty() || !d[0].isLetter())
        return false;
    const int i = indexOfLetter(d[0]);
    if (i < 0)
        return false;
    selectIndex(i, true);
    return true;
}

void DriveListBox::Refresh()
{
    const QChar before = letterAt(current_);
    DriveTable::instance().refresh();
    filling_ = true;
    Clear();
    letters_.clear();
    for (QChar letter : logicalDrives()) {
        QString label;
        if (withLabels_ && isDriveReady(letter) == true) {
            if (auto info = volumeInformation(letter))
                label = info->label;
        }
        letters_ << letter.toUpper();
        AddItem(entryText(letter, label));
    }
    filling_ = false;
    int keep = before.isNull() ? -1 : indexOfLetter(before);
    if (keep < 0 && !letters_.isEmpty())
        keep = 0;
    current_ = -1;
    if (keep >= 0)
        selectIndex(keep, !before.isNull() && letterAt(keep) != before);
}

void DriveListBox::selectIndex(int index, bool raise)
{
    const bool changed = index != current_;
    current_ = index;
    if (ListIndex() != index)
        setListIndex(index);
    if (raise && changed)
        Change();
}

void DriveListBox::userChose()
{
    if (filling_)
        return;
    const int i = ListIndex();
    if (i >= 0 && i != current_)
        selectIndex(i, true);
}

} // namespace plat
