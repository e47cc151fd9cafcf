#pragma once

class QChart;
class QPalette;

// The chart's theme follows the window's palette: dark on a dark palette, light otherwise, with
// the window's own background so that the chart sits in the page as its other controls do.
void FollowPalette(QChart& chart, const QPalette& palette);
