#include "reconstruction/GeneralCopy.h"

#include <blitz/array.h>

namespace reconstruction {
namespace {

using PixelView = blitz::Array<uint16_t, 2>;

blitz::Range SourceRange(const AxisCopy& axis) {
    return blitz::Range(axis.srcFirst, axis.srcFirst + (axis.count - 1) * axis.srcStride,
                        axis.srcStride);
}

blitz::Range DestinationRange(const AxisCopy& axis) {
    return blitz::Range(axis.dstFirst, axis.dstFirst + (axis.count - 1) * axis.dstStride,
                        axis.dstStride);
}

// Views never own: the raw frame belongs to the capture, the buffers to the
// application.
PixelView View(const uint16_t* pixels, int32_t rows, int32_t columns) {
    return PixelView(const_cast<uint16_t*>(pixels), blitz::shape(rows, columns),
                     blitz::neverDeleteData);
}

void Assign(PixelView& raw, uint16_t* buffer, int32_t rows, int32_t columns,
            const AxisCopy& rowCopy, const AxisCopy& columnCopy) {
    if (rowCopy.count < 1 || columnCopy.count < 1) return;
    PixelView target = View(buffer, rows, columns);
    target(DestinationRange(rowCopy), DestinationRange(columnCopy)) =
        raw(SourceRange(rowCopy), SourceRange(columnCopy));
}

}  // namespace

void ExecuteGeneralCopy(const CopyPlan& plan, const uint16_t* rawFrame,
                        const PictureBuffers& picture) {
    if (plan.rawRows < 1 || plan.rawColumns < 1) return;
    PixelView raw = View(rawFrame, plan.rawRows, plan.rawColumns);
    for (int32_t k = 0; k < plan.copyCount; ++k) {
        const QuadrantCopy& copy = plan.copies[k];
        Assign(raw, picture.images[k], picture.height, picture.width, copy.rows, copy.columns);
        if (plan.overscanOn)
            Assign(raw, picture.overscans[k], plan.overscanViewHeight, picture.overscanWidth,
                   copy.overscanRows, copy.overscanColumns);
    }
}

}  // namespace reconstruction
