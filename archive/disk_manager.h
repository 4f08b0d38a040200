#pragma once

#include "platform/object.h"

// Drive and volume information of the drive holding an archive. Owned by the
// component; the volume layer gives it its queries.
class TDiskManager : public TObject {};
