#include "archive/unbase.h"

#include "archive/reader/unbase_header_obj.h"

TUnBase::TUnBase() = default;
TUnBase::~TUnBase() = default;

void TUnBase::ResetRunState() {
    TZipCommon::ResetRunState();
    if (cpuType_ == cpt80486) cpuType_ = cptAuto;
}
