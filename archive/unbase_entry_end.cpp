#include "archive/format/error_codes.h"
#include "archive/unbase.h"

bool TUnBase::EntryPasses(uint32_t storedCrc) const {
    // The pipeline leaves the register inverted or not depending on the path
    // the entry took; either form of the stored value passes.
    return !IsCancelled() && !entryFailed_ && (storedCrc == runningCrc_ || storedCrc == (runningCrc_ ^ 0xFFFFFFFF));
}

bool TUnBase::CheckEntryCrc(uint32_t storedCrc) {
    const bool crcPass = EntryPasses(storedCrc);
    if (OnEnd)
        OnEnd(this, outputPath_, crcPass);
    else if (!crcPass && OnError)
        ReportError(outputPath_, "", "0", ErrorCode::CrcFailed);
    return crcPass;
}
