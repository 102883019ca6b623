// The progress bar's colours, which are no properties of the control: the
// bar and its background, given as colour values (0x00BBGGRR or a system
// colour), applied through the bar's style sheet.
#pragma once

#include <QtGlobal>
#include <optional>

void SetProgressBarColor(int hWnd, quint32 colour);
void SetProgressBackColor(int hWnd, quint32 colour);
// What the bar was given last; none before the first call.
std::optional<quint32> ProgressBarColor(int hWnd);
std::optional<quint32> ProgressBackColor(int hWnd);
