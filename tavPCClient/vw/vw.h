// The whiteboard: the canvas, its shapes and the limits a board keeps to.
//
//   vw::VWPaintWidget    the canvas laid over the classroom's shared area
//   VWShapeProperty      pen and shape style (tool, colour, width), a meta-type
//   vw::VWBaseShape      shapes: VWLines, VWLine, VWRect, VWEllipse, VWArrow, VWEraser
//   vw::VWClassroomLink  what the canvas needs of the classroom that creates it
//   vw::VWShapeDigest    a canonical digest of a board, to compare canvases
#pragma once

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
