// The door to the TIFF room, loaded with libtiff at the first TIFF.
#include "cli/media/tiff.h"

#include "cli/base/modules.h"

namespace vexlor::cli {

TiffRoom& Tiff() {
  static TiffRoom* room = static_cast<TiffRoom*>(LoadRoom("tiff", "TIFF pictures"));
  return *room;
}

}  // namespace vexlor::cli
