#pragma once

#include "platform/object.h"

// The list of entries one extraction run selects, built by the directory walk.
class TUnBaseHeaderObj : public TObject {};
