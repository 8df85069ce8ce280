// Merge-or-append of allocated byte ranges into the caller's extent vector.
#include "extent_merge.h"

namespace orv_alloc {

void AppendOrMergeExtent(std::vector<OrvExtentS>& out, uint64_t offset, uint32_t length) {
  if (!out.empty()) {
    OrvExtentS& last = out.back();
    // Written without forming last.offset + last.length, which a caller's element could overflow.
    const bool continues = offset >= last.offset && offset - last.offset == last.length;
    if (continues && length <= UINT32_MAX - last.length) {
      last.length += length;
      return;
    }
  }
  out.push_back(OrvExtentS{offset, length});
}

}  // namespace orv_alloc
