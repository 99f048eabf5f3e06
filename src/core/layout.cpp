#include "layout.h"

namespace doredaviro {

void ResizeLayout(FormView& p) {
    using C = Control;
    // Divided in double precision, stored as single-precision twips.
    p.Let(C::lstFileList, Prop::Height, static_cast<float>(p.ScaleHeight() / 1.7));
    p.Let(C::lstFileList, Prop::Width, static_cast<float>(p.ScaleWidth() / 1.02));

    p.Let(C::lblF1, Prop::Top, p.Get(C::lstFileList, Prop::Height) + 900.0f);
    p.Let(C::lblF1, Prop::Left, p.Get(C::lstFileList, Prop::Width) / 2.0f - 1550.0f);
    p.Let(C::cmdExec, Prop::Top, p.Get(C::lstFileList, Prop::Height) + 1100.0f);
    p.Let(C::cmdExec, Prop::Left, p.Get(C::lstFileList, Prop::Width) / 2.0f - 1550.0f);
    p.Let(C::lblF4, Prop::Top, p.Get(C::lstFileList, Prop::Height) + 900.0f);
    p.Let(C::lblF4, Prop::Left, p.Get(C::lstFileList, Prop::Width) / 2.0f + 420.0f);
    p.Let(C::cmdClose, Prop::Top, p.Get(C::lstFileList, Prop::Height) + 1100.0f);
    p.Let(C::cmdClose, Prop::Left, p.Get(C::lstFileList, Prop::Width) / 2.0f + 420.0f);
}

}  // namespace doredaviro
