// A drive list box: a drop-down list of the drive letters in use, one entry
// per letter written "e: [LABEL]" (the letter in lower case, a colon, and the
// volume label in brackets when the drive has one), as the program's drive
// lists show them.
//
// - Drive is the text of the current entry; setting it to a text whose first
//   character is a listed letter ("e:", "E:\", "e: [CARD]") selects that
//   drive; any other text is ignored (false).
// - Change is raised whenever the current drive changes: by the user, by
//   setDrive, or by Refresh when the current drive is gone from the list.
// - Refresh lists the drives that exist now and keeps the current one when it
//   is still listed (else the first entry becomes current).
// - A list made without labels reads nothing from any volume, so a poll of it
//   never touches a device (a hanging card or network mount cannot block it).
#pragma once

#include "platform/ui/controls.h"

#include <QChar>
#include <QList>
#include <QString>

namespace plat {

class DriveListBox : public ComboBox {
public:
    explicit DriveListBox(Control *container, bool withLabels = true);

    QString Drive() const;
    bool setDrive(const QString &drive);

    // Lists the drives again (ListCount, List(i) follow).
    void Refresh();
    // The letter of entry i (upper case), a null QChar for none.
    QChar letterAt(int index) const;
    int indexOfLetter(QChar letter) const;
    bool withLabels() const { return withLabels_; }

    // The text of one entry as the list shows it.
    static QString entryText(QChar letter, const QString &label);

    Event<> Change;

private:
    void selectIndex(int index, bool raise);
    void userChose();
    QList<QChar> letters_;
    int current_ = -1;
    bool withLabels_;
    bool filling_ = false;
};

} // namespace plat
