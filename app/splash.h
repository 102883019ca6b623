// The splash window: the previous run's picture (or the background picture)
// with the logo and a "loading" title, shown while the program starts.
#pragma once

#include "platform/ui/controls.h"

#include <QPoint>
#include <QString>

class frmRecoverInit : public plat::Form {
public:
    frmRecoverInit();

    plat::PictureBox Picture1{this};

    // The logo pattern and the two glowing title lines on Picture1.
    void DrawLogo();
    // The noise effect on Picture1.
    void Whiten();

    // The title line and the maker's line as DrawLogo prints them.
    static QString TitleLine();
    static QString MakerLine();
    // Where the logo pattern stands on a picture of the given size (pixels):
    // ((width - 280) / 1.75, height / 1.68), rounded half to even.
    static QPoint LogoPlace(int widthPx, int heightPx);
};

// The splash window once made; nullptr before and after.
frmRecoverInit *SplashFormIfMade();
// Makes the splash window (once) and returns it.
frmRecoverInit &SplashForm();
// Closes and destroys the splash window.
void UnloadSplashForm();
