// The point panel: eight rows (NAME, NUMBER, TIME, EFEECT, EF SPD, EF LV,
// DELETE, CLOSE) opened by a right click on a point, drawn at its top-left
// corner while PLAY is off.
#pragma once

#include "render/tasks/task.h"

constexpr int point_panel_width = 260;
constexpr int kPointPanelRowHeight = 20;
constexpr int kPointPanelRows = 8;
constexpr int point_panel_height = kPointPanelRows * kPointPanelRowHeight;

// One frame of the point's panel at (x, y); returns whether it stays open.
bool point_panel_update(Task* task, int x, int y);
