// Helpers of the main window's tests: its widgets by object name, keys and
// mouse presses as the user gives them, a private home with its own trash,
// and a cache root with found files.
#pragma once

#include "app/frmrecover.h"

#include "drive/chooserpath.h"
#include "platform/paths.h"
#include "tests/support/fixtures.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QListView>
#include <QMouseEvent>
#include <QWidget>

namespace window_test {

inline QWidget *byName(frmRecover &w, const char *name)
{
    if (w.widget()->objectName() == QLatin1String(name))
        return w.widget();
    return w.widget()->findChild<QWidget *>(QLatin1String(name));
}

// The view inside LvwFiles that takes the keys and the mouse.
inline QListView *thumbnailView(frmRecover &w)
{
    QWidget *stack = byName(w, "LvwFiles");
    return stack ? stack->findChild<QListView *>() : nullptr;
}

inline void pressKey(QWidget *target, int key, Qt::KeyboardModifiers mods = Qt::NoModifier, const QString &text = {})
{
    QKeyEvent press(QEvent::KeyPress, key, mods, text);
    QApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, mods, text);
    QApplication::sendEvent(target, &release);
}

inline void pressMouse(QWidget *target, Qt::MouseButton button, QPoint at = QPoint(3, 3))
{
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(at), target->mapToGlobal(QPointF(at)), button, button,
                      Qt::NoModifier);
    QApplication::sendEvent(target, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(at), target->mapToGlobal(QPointF(at)), button,
                        Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(target, &release);
}

using testing_support::PrivateHome;

inline bool touch(const QString &native, const QByteArray &data = "data")
{
    QDir().mkpath(QFileInfo(native).absolutePath());
    QFile f(native);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

// A cache root ".../RIVozud/" of the window with the given found files
// (native folder returned), listed in List3 and FoundFilePaths in order.
inline QString makeCache(frmRecover &w, const QStringList &names, const QString &parent = {})
{
    const QString base = parent.isEmpty() ? testing_support::makeTempDir(QStringLiteral("cache")) : parent;
    const QString root = base + QStringLiteral("/RIVozud");
    QDir().mkpath(root);
    for (const QString &n : names)
        touch(root + QLatin1Char('/') + n, "found " + n.toUtf8());
    w.CacheRoot = plat::toInternal(root) + QLatin1Char('\\');
    w.MakeDirNames();
    w.CreateCacheFolders();
    w.ShownFolder = w.CacheRoot;
    w.FoundFilePaths = names;
    w.ItemOrientations.assign(size_t(names.size()), 0.0f);
    w.List3.Clear();
    for (const QString &n : names)
        w.List3.AddItem(n);
    return root;
}

} // namespace window_test
