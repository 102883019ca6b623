#include "platform/ui/dialogs.h"

#include "platform/os.h"
#include "platform/paths.h"
#include "platform/ui/controls.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>

namespace plat {

namespace {

DialogResponder &responder()
{
    static DialogResponder r;
    return r;
}

// A file dialog that, for a choice of "a folder or a file", takes whatever
// existing entry is selected when the user confirms.
class PickDialog : public QFileDialog {
public:
    PickDialog(QWidget *parent, const QString &title, bool folderOrFile)
        : QFileDialog(parent, title), folderOrFile_(folderOrFile)
    {
    }

protected:
    void accept() override
    {
        if (!folderOrFile_) {
            QFileDialog::accept();
            return;
        }
        const QStringList files = selectedFiles();
        if (files.isEmpty())
            return;
        QFileInfo info(files.first());
        if (!info.exists())
            return;   // as the shell's browser: only an existing entry
        QDialog::accept();
    }

private:
    bool folderOrFile_;
};

} // namespace

QStringList nameFiltersOf(const QString &filter)
{
    QStringList out;
    const QStringList parts = filter.split(QLatin1Char('|'));
    if (filter.trimmed().isEmpty())
        return out;
    if (parts.size() == 1) {
        // A lone word names an extension ("bmp"); a lone pattern stands alone.
        QString p = parts.first().trimmed();
        if (!p.contains(QLatin1Char('*')) && !p.contains(QLatin1Char('?')))
            p = QStringLiteral("*.") + p;
        out << QStringLiteral("%1 (%1)").arg(p);
        return out;
    }
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QString desc = parts.at(i).trimmed();
        QString patterns = parts.at(i + 1).trimmed();
        if (desc.isEmpty() && patterns.isEmpty())
            continue;
        if (patterns.isEmpty())
            patterns = QStringLiteral("*");
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        if (desc.isEmpty())
            desc = patterns;
        out << QStringLiteral("%1 (%2)").arg(desc, patterns);
    }
    return out;
}

void setDialogResponder(DialogResponder r) { responder() = std::move(r); }
bool hasDialogResponder() { return static_cast<bool>(responder()); }

DialogAnswer showDialog(const DialogRequest &request)
{
    // A program that is closing asks nothing more: the dialog is cancelled.
    if (closing())
        return DialogAnswer{QString(), request.filterIndex};
    if (responder()) {
        auto r = responder();
        return r(request);
    }
    DialogAnswer answer;
    answer.filterIndex = request.filterIndex;
    if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
        return answer;

    QWidget *owner = widgetOf(request.ownerHandle);
    if (owner)
        owner = owner->window();
    const bool folderOrFile = request.kind == DialogKind::FolderOrFile;
    PickDialog dialog(owner, request.title, folderOrFile);
    dialog.setWindowModality(Qt::ApplicationModal);

    const QString start = request.startFolder.isEmpty() ? QString() : toNative(request.startFolder);
    if (!start.isEmpty()) {
        QFileInfo info(start);
        dialog.setDirectory(info.isDir() ? info.absoluteFilePath() : info.absolutePath());
    }

    const QStringList filters = nameFiltersOf(request.filter);
    switch (request.kind) {
    case DialogKind::Open:
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFile);
        break;
    case DialogKind::Save:
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setOption(QFileDialog::DontConfirmOverwrite, !(request.flags & ofn::OverwritePrompt));
        if (!request.defaultExtension.isEmpty())
            dialog.setDefaultSuffix(request.defaultExtension);
        break;
    case DialogKind::Folder:
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::Directory);
        dialog.setOption(QFileDialog::ShowDirsOnly, true);
        break;
    case DialogKind::FolderOrFile:
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setOption(QFileDialog::DontUseNativeDialog, true);   // accept() must be ours
        break;
    }
    if (request.kind == DialogKind::Open || request.kind == DialogKind::Save) {
        if (!filters.isEmpty()) {
            dialog.setOption(QFileDialog::HideNameFilterDetails, true);
            dialog.setNameFilters(filters);
            int index = request.filterIndex;
            if (index < 1 || index > filters.size())
                index = 1;
            dialog.selectNameFilter(filters.at(index - 1));
        }
        if (!request.fileName.isEmpty())
            dialog.selectFile(request.fileName);
    }

    const int listener = addClosingListener([&dialog] { dialog.reject(); });
    const InFrontOfOthers front(&dialog);
    const int result = dialog.exec();
    removeClosingListener(listener);
    if (result != QDialog::Accepted)
        return answer;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty())
        return answer;
    answer.path = toInternal(chosen.first());
    if (!filters.isEmpty()) {
        int i = int(filters.indexOf(dialog.selectedNameFilter()));
        if (i >= 0)
            answer.filterIndex = i + 1;
    }
    return answer;
}

} // namespace plat
