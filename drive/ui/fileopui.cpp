#include "drive/ui/fileopui.h"

#include "drive/files.h"
#include "platform/os.h"
#include "platform/ui/msgbox.h"

#include <QCoreApplication>

namespace {

bool ask(const QString &text)
{
    plat::MessageRequest r;
    r.text = text;
    r.title = QCoreApplication::translate("FileOperation", "Files");
    r.style = plat::mb::YesNo + plat::mb::IconQuestion;
    return plat::showMessage(r) == plat::id::Yes;
}

} // namespace

void InstallFileOperationUi()
{
    FileOperationUi ui;
    ui.confirmDelete = [](const QStringList &items, bool toTrash) {
        const QString what = items.size() == 1 ? items.first() : QString::number(items.size());
        return ask(toTrash ? QCoreApplication::translate("FileOperation", "Move %1 to the trash?").arg(what)
                           : QCoreApplication::translate("FileOperation", "Delete %1 for good?").arg(what));
    };
    ui.confirmReplace = [](const QString &target) {
        return ask(QCoreApplication::translate("FileOperation", "%1 exists already. Replace it?").arg(target));
    };
    ui.progress = [](int, int, const QString &) {
        plat::pumpEvents();
        return true;
    };
    SetFileOperationUi(ui);
}
