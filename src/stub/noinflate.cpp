// The stub inflates nothing: vekpack no longer deflates, and an executable carries
// the archive its own vekpack made. A deflated file or table in front of this stub
// is a damaged installer. (vek reads the previous release's deflated archives with
// zlib: src/pack/inflate.cpp.)
#include "inflate.h"

namespace vek {

Error InflateStream(InflateSource&, InflateSink&, uint32_t, unsigned char*) {
  return GeneralError(kBadCompressedData);
}

}  // namespace vek
