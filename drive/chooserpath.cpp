#include "drive/chooserpath.h"

QString ChooserStartPath;
QString ChosenPath;
