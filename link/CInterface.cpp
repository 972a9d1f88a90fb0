#include "link/CInterface.h"

namespace qv {

CInterface::~CInterface() = default;

}  // namespace qv
