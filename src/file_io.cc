// What the files of a run have in common on every platform.
#include "file_io.h"

namespace placeharvest {

bool same_file(const FileIdentity& first, const FileIdentity& second) {
  return first.exists && second.exists && !first.device && !second.device &&
         first.volume == second.volume && first.index == second.index;
}

}  // namespace placeharvest
