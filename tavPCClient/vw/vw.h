// The whiteboard: the canvas, its shapes and the limits a board keeps to.
//
//   vw::VWPaintWidget    the canvas laid over the classroom's shared area
//   VWShapeProperty      pen and shape style (tool, colour, width), a meta-type
//   vw::VWBaseShape      shapes: VWLines, VWLine, VWRect, VWEllipse, VWArrow, VWEraser
//   vw::VWClassroomLink  what the canvas needs of the classroom that creates it
//   vw::VWShapeDigest    a canonical digest of a board, to compare canvases
//   vw::DrawingToolbar   the holder's tools, with DrawingSettingsBar (widths,
//                        colours) and EraserWidthBar floating beside it
//   vw::AnnotationAppList  the teacher's board-writing requests, AnnotationAppItem each
#pragma once

#include "AnnotationAppItem.h"
#include "AnnotationAppList.h"
#include "DrawingSettingsBar.h"
#include "DrawingToolbar.h"
#include "EraserWidthBar.h"
#include "VWArrow.h"
#include "VWBaseShape.h"
#include "VWBounds.h"
#include "VWClassroomLink.h"
#include "VWEllipse.h"
#include "VWEraser.h"
#include "VWLine.h"
#include "VWLines.h"
#include "VWPaintWidget.h"
#include "VWRect.h"
#include "VWShapeDigest.h"
#include "VWShapeProperty.h"
#include "VWSharedPictureDisplay.h"
