#include "archive/unbase.h"

#include "archive/unbase_header_obj.h"

TUnBase::TUnBase() = default;
TUnBase::~TUnBase() = default;
