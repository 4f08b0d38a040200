#pragma once

#include "platform/object.h"

class TUnZip;

// The disk-spanning object of a component: asks for the disks of a spanned
// archive. Owned by the component; the volume layer gives it its stages.
class TDiskSpannObj : public TObject {
public:
    explicit TDiskSpannObj(TUnZip& owner) : owner_(owner) {}

protected:
    TUnZip& owner_;
};
