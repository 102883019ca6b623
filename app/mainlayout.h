// The geometry of the main window's two columns, worked out from the window
// and screen sizes alone: the picture view in 3:2 with the entry lists and
// the found-file list below it on the left, the command panel on the right.
// All measures are twips. Form_Resize (app/layout.cpp) applies the result.
#pragma once

struct TwipsRect {
    double left = 0, top = 0, width = 0, height = 0;
    double right() const { return left + width; }
    double bottom() const { return top + height; }
};

// The lists' height of the window's own design (twips).
constexpr double kListHeight = 4205;

struct MainLayoutInput {
    double windowWidth = 0;      // outer width
    double clientWidth = 0;      // the window's inside, for the clamps
    double clientHeight = 0;     // inside height (maximized); normal: from the window height below
    double frameExtraHeight = 0; // outer minus inside height (normal state)
    bool maximized = false;
    double screenWidth = 0, screenHeight = 0;
    bool specsChecked = false;   // CheckSpecs
    double panelWidth = 3900;    // Frame1
    double panelHeight = 6885;
    double list2Height = kListHeight;   // kept while the picture view is as tall as the panel
    double comboWidth = 2700;    // CmbTypeSelect
};

struct MainLayout {
    TwipsRect picture;           // Picture1
    TwipsRect list1, list2;      // entry lists
    TwipsRect list3;             // found-file list; LvwFiles takes the same rectangle
    double windowHeight = 0;     // outer height in the normal state
    int entryColumns1 = 0, entryColumns2 = 0, foundColumns = 0;
    double panelLeft = 0, panelTop = 0, panelWidth = 0;
    double linkTop = 0;          // lblHelp and lblAbout inside Frame1
    bool specsVisible = true;    // lblSpecs
    double specsTop = 270;
    double comboLeft = 0, comboTop = 0;
    double getStartedTop = 0, getStartedHeight = 0;   // Picture7
    bool exifFits = false;       // txtExif has room between the picture view and the panel
    TwipsRect exif;
    double exifFontSize = 0;
};

// VB's integer division: the operands rounded half to even, the quotient
// truncated toward zero.
long long VbIntDiv(double a, double b);

// The picture view's size for a window width on a screen of that height.
void PictureViewSize(double windowWidth, double screenHeight, double &width, double &height);

MainLayout ComputeMainLayout(const MainLayoutInput &in);
