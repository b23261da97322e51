#pragma once
// How wide a cluster of text is, asked by the layout. The Qt measurer answers
// with real, shaped font metrics; tests may answer with a fixed table.
#include "layout/page.h"

#include <QStringView>

namespace pagiro::typeset {

struct FaceMetrics {
    double ascent = 0;   // above the baseline
    double descent = 0;  // below it
    double em = 0;       // the font's pixel size
};

// How far a cluster's ink reaches past its pen position on the left and past its
// advance on the right (serifs of v, w, x, f …); 0 when it stays inside.
struct Overhang {
    double left = 0;
    double right = 0;
};

class Measurer {
public:
    virtual ~Measurer() = default;
    virtual double advance(QStringView cluster, Face face) = 0;
    virtual FaceMetrics metrics(Face face) = 0;
    virtual Overhang overhang(QStringView, Face) { return {}; }
};

}  // namespace pagiro::typeset
